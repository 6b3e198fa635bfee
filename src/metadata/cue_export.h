// Writing the CUE sheet of a finished image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/input_track.h"
#include "metadata/album.h"

namespace varn {

// The sheet's text (CR LF line ends): the album's texts, codes and ISRCs,
// one FILE entry for the image and each track's place on the time line,
// every track counted with its pause and its length in `frames` (SACD
// frames, by track position).
std::string cue_sheet_text(const std::vector<InputTrack>& tracks, const std::vector<uint64_t>& frames,
                           const Album& album, const std::string& image_file_name);

// "<image without its extension>.cue" beside the image.
std::string cue_path_for_image(const std::string& image_path);

// The image name after its last '/' (the whole name when there is none).
std::string cue_image_file_name(const std::string& image_path);

// A value for a quoted CUE field: a double quote would end the field early,
// so each becomes a single quote.
std::string cue_quoted_value(const std::string& value);

}  // namespace varn
