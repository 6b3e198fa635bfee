// The CUE sheet in a run: import and album merge, per-track title,
// performer and ISRC, export beside the image.
#include <cstdio>
#include <utility>

#include "frontend/stages.h"
#include "metadata/codes.h"
#include "metadata/disc_date.h"
#include "metadata/cue_export.h"
#include "metadata/cue_import.h"
#include "platform/report.h"

namespace varn {

StageResult stage_cue_import(PackRun& run) {
  PackJob& job = run.job;
  if (job.cue_path.empty()) return std::nullopt;
  Result<CueSheet> sheet = import_cue_sheet(job.cue_path);
  if (sheet.error) {
    report(*sheet.error);
    return 1;
  }
  run.cue = std::move(sheet.value);
  run.have_cue = true;
  // The sheet's album fields fill what no option gives.
  const CueSheet& cue = run.cue;
  if (job.album.title.empty()) job.album.title = cue.title;
  if (job.album.artist.empty()) job.album.artist = cue.performer;
  if (job.album.composer.empty()) job.album.composer = cue.songwriter;
  if (job.album.genre.empty()) job.album.genre = cue.genre;
  if (job.album.catalog.empty()) job.album.catalog = cue.catalog;
  if (job.album.year.empty()) job.album.year = cue.date.substr(0, is_iso_date(cue.date) ? 4 : std::string::npos);
  if (job.album.date.empty() && is_iso_date(cue.date)) job.album.date = cue.date;
  std::fprintf(stderr, "Loaded %zu tracks from CUE: '%s'\n", run.cue.tracks.size(), run.cue.title.c_str());
  if (run.cue.tracks.size() != job.inputs.size())
    std::fprintf(stderr, "Warning: CUE has %zu tracks but %zu input files\n", run.cue.tracks.size(),
                 job.inputs.size());
  return std::nullopt;
}

void stage_cue_track_text(PackRun& run, InputTrack& track, size_t p, bool title_from_tag) {
  if (!run.have_cue || p >= run.cue.tracks.size()) return;
  const CueTrack& cue = run.cue.tracks[p];
  if (!title_from_tag && !cue.title.empty()) track.title = cue.title;
  if (track.artist.empty()) track.artist = cue.performer;
  if (track.composer.empty()) track.composer = cue.songwriter;
}

void stage_cue_track_isrc(PackRun& run, InputTrack&, size_t p) {
  if (!run.have_cue || p >= run.cue.tracks.size()) return;
  const int32_t key = static_cast<int32_t>(p);
  if (run.job.album.isrcs.count(key) != 0) return;
  const std::string& written = run.cue.tracks[p].isrc;
  if (written.empty()) return;
  const std::string code = normalize_isrc(written);
  if (isrc_shape_ok(code)) {
    run.job.album.isrcs[key] = code;
    report_note("  [CUE] track %d ISRC: %s\n", static_cast<int>(p + 1), code.c_str());
  } else {
    report_error(
        "  [ISRC] CUE track %d: '%s' is not a valid ISRC (expected CC-OOO-YY-DDDDD, 12 chars), ignored\n",
        static_cast<int>(p + 1), written.c_str());
  }
}

bool stage_cue_export(PackRun& run, OutputSet& outputs, std::string& report) {
  const std::string& image = run.layout.output_path.empty() ? run.job.output_path : run.layout.output_path;
  if (image.empty()) return true;
  const std::string cue_path = cue_path_for_image(image);
  // Each track's length as the plan of its area counts it.
  std::vector<uint64_t> frames(run.tracks.size(), 0);
  for (bool mch : {false, true}) {
    const std::vector<uint64_t>& area = mch ? run.multi_list : run.stereo_list;
    const AreaPlan& plan = mch ? run.layout.multi : run.layout.stereo;
    for (size_t i = 0; i < area.size() && i < plan.track_frames.size(); ++i)
      if (area[i] < frames.size()) frames[area[i]] = plan.track_frames[i];
  }
  const std::string text = cue_sheet_text(run.tracks, frames, run.job.album, cue_image_file_name(image));
  if (!stage_output_bytes(outputs, cue_path, text)) return false;
  report = "  [CUE] " + cue_path + "\n";
  return true;
}

}  // namespace varn
