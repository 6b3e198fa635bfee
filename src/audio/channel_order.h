// Channel order of an SACD area and the channel ids a DSDIFF file names
// its channels with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace varn {

// An SACD area carries its channels as left, right (2 channels); left,
// right, centre, left and right surround (5); left, right, centre, LFE,
// left and right surround (6). `ids` holds one 4-character DSDIFF id per
// channel. True when the ids name exactly the speakers of that layout;
// `from` then holds, for each channel of the area, the file channel that
// goes there (the identity when the file is in area order already).
bool area_channel_order(const std::string& ids, uint32_t channels, std::vector<uint8_t>& from);

// True when every id names a speaker (as opposed to numbered ids, which
// say nothing of the layout).
bool ids_name_speakers(const std::string& ids);

// Puts byte-interleaved sample bytes (n a multiple of from.size()) into
// the order `from` gives.
void reorder_channels(uint8_t* data, size_t n, const std::vector<uint8_t>& from);

// The ids as text for messages: "MLFT MRGT C LFE".
std::string channel_id_text(const std::string& ids);

}  // namespace varn
