// The two runs that make no SACD image: a DSD Disc, and the check of an
// image against its manifest.
#include "dsddisc/dsd_disc.h"
#include "frontend/cli.h"
#include "frontend/stages.h"
#include "manifest/manifest.h"
#include "platform/report_lines.h"

namespace varn {

StageResult stage_dsd_disc(PackRun& run) {
  if (!run.job.dsd_disc) return std::nullopt;
  DsdDiscJob job;
  job.image_path = dsd_disc_image_name(run.job.output_path);
  job.title = run.job.disc_title;
  job.playlists = run.job.playlists;
  job.iso_bridge = true;
  for (size_t i = 0; i < run.job.inputs.size(); ++i) {
    DsdDiscTrack t;
    t.source_path = run.job.inputs[i];
    auto album = run.job.track_albums.find(static_cast<int32_t>(i));
    t.album_folder = album != run.job.track_albums.end() ? album->second : std::string("ALBUM");
    job.tracks.push_back(std::move(t));
  }
  if (Status error = build_dsd_disc(job)) {
    report(*error);
    return 1;
  }
  return 0;
}

// --verify checks the image against the manifest beside it and ends the
// run: 0 every check passed, 3 a mismatch, 2 the files could not be read.
StageResult stage_verify(PackRun& run) {
  if (run.job.verify_path.empty()) return std::nullopt;
  VerifyReport found;
  const Status error = verify_delivery(run.job.verify_path, std::string(), found);
  report_lines(found.lines);
  if (error) {
    report(*error);
    return 2;
  }
  return found.mismatches == 0 ? 0 : 3;
}

}  // namespace varn
