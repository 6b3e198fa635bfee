// Writing the CUE sheet of a finished image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/input_track.h"
#include "metadata/album.h"

namespace varn {

// The sheet's text (CR LF line ends): the album's texts, codes and ISRCs,
// one FILE entry for the image and each track's place on the time line.
std::string cue_sheet_text(const std::vector<InputTrack>& tracks, const Album& album,
                           const std::string& image_file_name);

// "<image without its extension>.cue" beside the image.
std::string cue_path_for_image(const std::string& image_path);

// The image name after its last '/' (the whole name when there is none).
std::string cue_image_file_name(const std::string& image_path);

// A value for a quoted CUE field: a double quote would end the field early,
// so each becomes a single quote.
std::string cue_quoted_value(const std::string& value);

// Length of a track in SACD frames (1/75 s), rounded up; 0 for a rate that
// gives no frame size.
uint64_t cue_track_frames(const InputTrack& track);

}  // namespace varn
