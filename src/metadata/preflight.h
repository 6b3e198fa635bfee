// The metadata pre-flight: checks of the album and its tracks before an
// image is written, and the disc-text encodability test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frontend/pack_run.h"
#include "metadata/album_meta.h"
#include "metadata/meta_issue.h"

namespace varn {

// True when the text holds a character the disc text cannot represent
// (controls, U+007F..U+009F, beyond the BMP, U+1F000..U+1FAFF, undecodable
// UTF-8); `code_point` is then the first one as "U+%04X".
bool find_unencodable(const std::string& text, std::string& code_point);

// Every check, in order; never fails.
std::vector<MetaIssue> preflight_album(const AlbumMeta& album);

// Number of issues of one severity.
int count_issues(const std::vector<MetaIssue>& issues, uint32_t severity);

// The album as the run will write it: the job's album fields and one
// TrackMeta per track in final order (ISRC from track_isrcs by position).
AlbumMeta album_meta_for_run(const PackRun& run);

// Checks of what the disc structures can hold for this run (filled in by
// the SACD side); the issues are appended to the pre-flight's own.
std::vector<MetaIssue> preflight_layout_checks(const PackRun& run, const AlbumMeta& album);

// Prints each issue on its stream with its mark, then the summary line.
void print_meta_issues(const std::vector<MetaIssue>& issues);

}  // namespace varn
