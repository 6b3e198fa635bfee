// ID3v2 tags held in memory (their 10-byte header included): the frames
// with the tag's and each frame's encodings undone, their texts as UTF-8
// and the cover picture; and the UTF-16 to UTF-8 conversion they use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace varn {

// One frame as its bytes read once unsynchronisation, grouping bytes and
// data-length indicators are taken away. ID3v2.2 frames carry the names of
// their later counterparts (TT2 as TIT2, PIC as APIC with an empty MIME
// type, TYE as TYER, ...).
struct Id3Frame {
  std::string id;
  std::vector<uint8_t> body;
};

struct Id3Tag {
  std::vector<Id3Frame> frames;  // in tag order; compressed and encrypted frames left out
};

// The frames of a whole tag. The walk ends at padding, at a frame that
// claims more bytes than the tag holds, and when no frame header fits.
Id3Tag parse_id3(const uint8_t* tag, size_t tag_size);

// UTF-8 text of the first frame `frame_id` with a non-empty body; empty
// when there is none. Encoding 0 is ISO-8859-1 (bytes that already form
// UTF-8 are kept as they are), 3 UTF-8, 1 and 2 UTF-16 (big-endian unless a
// byte-order mark says otherwise). Zero terminators are dropped and the
// values of a multi-value frame are joined with " / ".
std::string id3_text(const Id3Tag& tag, const char* frame_id);

// Picture data of the front cover (APIC type 3), else of the first APIC
// frame; empty when there is none.
std::vector<uint8_t> id3_picture(const Id3Tag& tag);

// The same lookups straight over a tag's bytes.
std::string find_id3_text(const uint8_t* tag, size_t tag_size, const char* frame_id);
std::vector<uint8_t> find_id3_picture(const uint8_t* tag, size_t tag_size);

// UTF-16 bytes to UTF-8. A leading FF FE / FE FF selects the byte order and
// is skipped; otherwise `little_endian` applies. A zero unit ends the text.
// Surrogate pairs become one four-byte sequence; a lone half becomes U+FFFD.
std::string utf16_to_utf8(const uint8_t* bytes, size_t length, bool little_endian = true);

// Same conversion, but zero units are kept as zero bytes and do not end the
// text.
std::string utf16_to_utf8_keep_zeros(const uint8_t* bytes, size_t length, bool little_endian);

}  // namespace varn
