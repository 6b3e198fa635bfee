#pragma once

#include <string>

namespace varn {

// Text after the last '/' (the whole name when there is none).
std::string base_name(const std::string& path);

// A title made from an input file name: "03 - Intro.dsf" gives "Intro",
// "03.dsf" gives "03", "03-.dsf" gives "" and "Song.live.dsf" "Song.live".
std::string title_from_file_name(const std::string& path);

}  // namespace varn
