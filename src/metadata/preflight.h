// The metadata pre-flight: checks of the album and its tracks before an
// image is written, and the disc-text encodability test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/input_track.h"
#include "metadata/album.h"
#include "metadata/meta_issue.h"

namespace varn {

// True when the text holds a character the disc text cannot represent
// (controls, U+007F..U+009F, beyond the BMP, U+1F000..U+1FAFF, undecodable
// UTF-8); `code_point` is then the first one as "U+%04X".
bool find_unencodable(const std::string& text, std::string& code_point);

// Every check of the album and its tracks (in final order), in order.
std::vector<MetaIssue> preflight_album(const Album& album, const std::vector<InputTrack>& tracks);

// Number of issues of one severity.
int count_issues(const std::vector<MetaIssue>& issues, uint32_t severity);

}  // namespace varn
