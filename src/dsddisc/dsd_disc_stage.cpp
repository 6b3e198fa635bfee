// Stage B of the packing driver: the DSD Disc replaces the SACD image.
#include "dsddisc/dsd_disc.h"
#include "frontend/stages.h"

namespace varn {

StageResult stage_dsd_disc(PackRun& run) {
  if (!run.job.dsd_disc) return std::nullopt;
  DsdDiscJob job;
  job.image_path = run.job.output_path.empty() ? std::string("dsd_disc.iso") : run.job.output_path;
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
  return build_dsd_disc(job) ? 0 : 1;
}

}  // namespace varn
