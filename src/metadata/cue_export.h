// Writing the CUE sheet of a finished image.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "audio/input_track.h"

namespace varn {

// The sheet's text (CR LF line ends). `isrcs` maps 0-based track positions
// to codes.
std::string cue_sheet_text(const std::vector<InputTrack>& tracks, const std::string& album,
                           const std::string& artist, const std::string& genre, const std::string& year,
                           const std::string& catalog_text, const std::map<int32_t, std::string>& isrcs,
                           const std::string& image_file_name);

// Writes the sheet to `cue_path`, replacing the file whole or not at all.
// False after printing why.
bool export_cue_sheet(const std::string& cue_path, const std::vector<InputTrack>& tracks,
                      const std::string& album, const std::string& artist, const std::string& genre,
                      const std::string& year, const std::string& catalog_text,
                      const std::map<int32_t, std::string>& isrcs, const std::string& image_file_name);

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
