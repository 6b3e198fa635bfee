// Disc text encodings: one character set per disc, chosen from the disc's
// texts and passed to whatever encodes them.
//
// Codes: 0 UTF-8 unchanged, 1 ASCII ('?' for every other byte),
// 2 ISO-8859-1, 3 Shift-JIS (932), 4 KS C 5601 (949), 5 GBK (936),
// 6 Big5 (950), 7 ISO-8859-1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/input_track.h"

namespace varn {

// Character set code for a list of UTF-8 texts (0, 2, 3, 4 or 5).
uint8_t choose_charset(const std::vector<std::string>& texts);

// The texts the choice looks at: album, artist, then every track's title
// and artist; further the publisher and the track composers where given.
std::vector<std::string> disc_charset_texts(const std::string& album, const std::string& artist,
                                            const std::vector<InputTrack>& tracks,
                                            const std::string& publisher = {});

// The character set of a disc's text: chosen from its album, artist,
// publisher and track texts, the same for every structure that carries text.
inline uint8_t disc_charset(const std::string& album, const std::string& artist,
                            const std::vector<InputTrack>& tracks, const std::string& publisher = {}) {
  return choose_charset(disc_charset_texts(album, artist, tracks, publisher));
}

// `text` encoded with character set `code`; a code without a table row
// leaves UTF-8 unchanged.
std::string encode_text_as(uint8_t code, const std::string& text);

// Windows code page of a charset name (case-insensitive), 0 when unknown.
uint32_t code_page_of(const std::string& charset_name);

// Conversion of UTF-8 text to a named charset: texts without bytes of 0x80
// or above and unknown names pass unchanged; at most the first 511 bytes
// are converted; unrepresentable characters become '?'.
std::string convert_disc_text(const std::string& text, const std::string& charset_name);

// Length in bytes of the character starting at `pos` of text encoded with
// `code` (1 or 2 for the double-byte sets, 1..4 for UTF-8), never past the
// end.
size_t encoded_char_length(uint8_t code, const std::string& bytes, size_t pos);

// The longest prefix of encoded text of at most `max_bytes` bytes that ends
// on a character boundary.
std::string cut_encoded(uint8_t code, const std::string& bytes, size_t max_bytes);

}  // namespace varn
