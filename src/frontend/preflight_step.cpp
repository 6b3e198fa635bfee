// The metadata pre-flight of a run: the album as it will be written,
// checked on its own and against what the disc structures can hold.
#include <cstdio>

#include "frontend/stages.h"
#include "metadata/preflight.h"
#include "platform/report.h"
#include "sacd/layout.h"
#include "sacd/master_toc.h"

namespace varn {

// Limits of the SACD structures themselves that depend on the planned
// layout: the album and disc texts must fit the Master Text, or the disc
// would carry them cut.
std::vector<MetaIssue> preflight_layout_checks(const PackRun& run) {
  std::vector<MetaIssue> issues;
  DiscLayout layout = run.layout;  // planned with the run's tracks
  layout.album = &run.job.album;
  const uint8_t charset = layout.charset;
  if (!master_text_fits(layout, charset)) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "album and disc texts need %zu bytes of the Master Text, which holds %zu -- "
                  "shorten the album title, artist, label or copyright",
                  master_text_bytes(layout, charset), kMasterTextRoom);
    issues.push_back(MetaIssue{2, "disc", text});
  }
  // Players and rippers read DSD64 areas only; other rates are written as
  // asked, with one warning that names them.
  std::string rates;
  for (const InputTrack& t : run.tracks) {
    const std::string rate = std::to_string(t.sample_rate) + " Hz";
    if (t.sample_rate != 2822400 && rates.find(rate) == std::string::npos)
      rates += (rates.empty() ? "" : ", ") + rate;
  }
  if (!rates.empty())
    issues.push_back(MetaIssue{
        1, "disc",
        "audio at " + rates +
            ": SACD players and rippers read only 2822400 Hz (DSD64) areas (an SACD ripper processes 0 "
            "frames of a DSD128 area); the image is written as asked -- --dsd-disc keeps the files at "
            "their own rate"});
  return issues;
}

// Each issue on its stream with its mark, then the summary line.
void print_meta_issues(const std::vector<MetaIssue>& issues) {
  for (const MetaIssue& i : issues) {
    if (i.severity >= 2)
      report_error("  \xE2\x9D\x8C [meta] %s: %s\n", i.subject.c_str(), i.message.c_str());
    else if (i.severity == 1)
      report_note("  \xE2\x9A\xA0 [meta] %s: %s\n", i.subject.c_str(), i.message.c_str());
    else
      report_note("  \xC2\xB7 [meta] %s: %s\n", i.subject.c_str(), i.message.c_str());
  }
  const int errors = count_issues(issues, 2), warnings = count_issues(issues, 1);
  if (errors > 0 || warnings > 0)
    report_note("  [meta] pre-flight: %d error(s), %d warning(s)\n", errors, warnings);
}

// Errors stop the run unless the job allows them.
StageResult stage_preflight(PackRun& run) {
  std::vector<MetaIssue> issues = preflight_album(run.job.album, run.tracks);
  for (MetaIssue& extra : preflight_layout_checks(run)) issues.push_back(std::move(extra));
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
