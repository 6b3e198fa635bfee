#include <cstdio>

#include "frontend/stages.h"
#include "metadata/preflight.h"

namespace varn {

// I: the metadata pre-flight; errors stop the run unless the job allows them.
StageResult stage_preflight(PackRun& run) {
  const AlbumMeta album = album_meta_for_run(run);
  std::vector<MetaIssue> issues = preflight_album(album);
  for (MetaIssue& extra : preflight_layout_checks(run, album)) issues.push_back(std::move(extra));
  print_meta_issues(issues);
  const int errors = count_issues(issues, 2);
  if (errors > 0 && !run.job.allow_meta_errors) {
    std::fflush(stdout);
    std::fprintf(stderr,
                 "\n\xE2\x9D\x8C Metadata pre-flight failed (%d error(s)) -- packing stopped: a disc with wrong "
                 "metadata costs more than no disc at all.\n   Fix the metadata and re-run; to pack with errors "
                 "deliberately, add --allow-meta-errors.\n",
                 errors);
    return 1;
  }
  return std::nullopt;
}

}  // namespace varn
