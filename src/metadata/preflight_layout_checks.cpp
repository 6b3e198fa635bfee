#include <cstdio>

#include "metadata/preflight.h"
#include "sacd/layout.h"
#include "sacd/master_toc.h"
#include "sacd/text_encoding.h"

namespace varn {

// Limits of the SACD structures themselves that depend on the planned
// layout: the album and disc texts must fit the Master Text, or the disc
// would carry them cut.
std::vector<MetaIssue> preflight_layout_checks(const PackRun& run, const AlbumMeta&) {
  std::vector<MetaIssue> issues;
  DiscLayout layout = run.layout;  // planned with the run's tracks
  copy_album_fields(run.job, layout);
  const uint8_t charset = choose_charset(disc_charset_texts(layout.album, layout.artist, run.tracks));
  if (!master_text_fits(layout, charset)) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "album and disc texts need %zu bytes of the Master Text, which holds %zu -- "
                  "shorten the album title, artist, label or copyright",
                  master_text_bytes(layout, charset), kMasterTextRoom);
    issues.push_back(MetaIssue{2, "disc", text});
  }
  return issues;
}

}  // namespace varn
