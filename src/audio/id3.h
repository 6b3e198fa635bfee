// Lookups over a whole ID3v2 tag held in memory (its 10-byte header
// included), and the UTF-16 to UTF-8 conversion they use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace varn {

// Text of the first frame `frame_id` with a non-zero size; empty when there
// is none. Encodings 0 and 3 are returned as stored, 1 and 2 are converted
// from UTF-16 (big-endian unless a byte-order mark says otherwise).
std::string find_id3_text(const uint8_t* tag, size_t tag_size, const char* frame_id);

// Picture data of the front cover (APIC type 3), else of the first APIC
// frame; empty when there is none.
std::vector<uint8_t> find_id3_picture(const uint8_t* tag, size_t tag_size);

// UTF-16 bytes to UTF-8. A leading FF FE / FE FF selects the byte order and
// is skipped; otherwise `little_endian` applies. A zero unit ends the text.
// Each unit is converted on its own (surrogate halves are not combined).
std::string utf16_to_utf8(const uint8_t* bytes, size_t length, bool little_endian = true);

// Same conversion, but zero units are kept as zero bytes and do not end the
// text.
std::string utf16_to_utf8_keep_zeros(const uint8_t* bytes, size_t length, bool little_endian);

}  // namespace varn
