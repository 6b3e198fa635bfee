// OSTA Compressed Unicode text fields of the UDF volume.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varn {

// A dstring field of n bytes: byte 0 the compression ID, byte n - 1 the
// number of bytes used (ID included). Pure ASCII text keeps its bytes after
// ID 8; any byte from 128 up makes the field UCS-2 big-endian after ID 16,
// decoded from UTF-8 ('?' for what cannot be decoded).
std::vector<uint8_t> udf_dstring(const std::string& text, size_t n);

}  // namespace varn
