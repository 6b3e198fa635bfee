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

// A file identifier: compression ID and characters, as readers decode
// them. A name whose characters all lie in U+0000..U+00FF takes one byte
// each after ID 8; any other name takes UTF-16 big-endian units after ID
// 16. Bytes that are not UTF-8 count as the character of their value.
std::vector<uint8_t> udf_identifier(const std::string& name);

// The text cut to at most max_bytes bytes, never inside a UTF-8 character.
std::string cut_utf8(const std::string& text, size_t max_bytes);

}  // namespace varn
