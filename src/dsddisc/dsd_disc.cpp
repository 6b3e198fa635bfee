// Writing a planned DSD Disc front to back in one pass, the track files
// streamed from the inputs, and the summary.
#include "dsddisc/dsd_disc.h"

#include <cstdio>

#include "dsddisc/dsd_disc_copy.h"
#include "dsddisc/dsd_disc_plan.h"
#include "fs/extent_writer.h"
#include "fs/sector_io.h"
#include "platform/cancel.h"
#include "platform/error.h"
#include "platform/platform.h"
#include "platform/report.h"
#include "platform/report_lines.h"
#include "platform/staged_output.h"

namespace varn {

namespace {

void print_summary(const DsdDiscJob& job, const DsdDiscPlan& plan) {
  report_note("\n✓ Varn DSD Disc created: %s\n", job.image_path.c_str());
  report_note("  Files:  %zu DSF in %zu album(s)\n", plan.tracks.size(),
               plan.albums.size());
  for (const DsdDiscAlbum& a : plan.albums)
    report_note("          /DSD_DISC/%s/ — %zu track(s)\n", a.name.c_str(),
                 a.tracks.size());
  report_note("  Title:  %s\n", job.title.empty() ? "(none)" : job.title.c_str());
  if (job.playlists)
    report_note("  Playlist: auto-generated (%zu .ddp)\n", plan.playlists.size());
  report_note("  Format: DSD Disc v1.00 (UDF 1.02 %s)\n",
               job.iso_bridge ? "with ISO 9660 Bridge" : "without ISO 9660 (Pure UDF)");
}

// Writes the image under a temporary name beside its target; only a
// complete image is renamed into place, so the messages name the target.
// The space check reports its own failure, which comes back as an error
// without text, as does a stop.
Status write_image(const DsdDiscJob& job, const DsdDiscPlan& plan, const std::string& path) {
  if (!room_for_image(path, uint64_t(plan.total_sectors) * kSectorSize, job.image_path)) return Error{};
  FILE* image = platform_fopen_write(path);
  if (!image) {
    return job.iso_bridge ? make_error("Error: cannot open %s for the ISO 9660 volume\n", job.image_path.c_str())
                          : make_error("Error: cannot open %s for UDF write\n", job.image_path.c_str());
  }
  std::vector<uint8_t> buffer;
  const auto fill = [&](SectorSink& sink, const Extent& e) -> Status {
    if (e.kind == kDiscTrack) {
      const DsdDiscFile& f = plan.tracks[e.index];
      return copy_file_into_sink(sink, f.source_path, f.size, buffer);
    }
    const SectorRun& run = plan.structures[e.index];
    sink_put(sink, run.bytes.data(), run.bytes.size());
    return std::nullopt;
  };
  Status failed = write_image_file(image, job.image_path, plan.map, plan.total_sectors, fill);
  if (failed && cancel_requested()) return Error{};
  if (!failed) report_lines(plan.volume_notes);
  return failed;
}

}  // namespace

Status write_dsd_disc(const DsdDiscJob& job, const DsdDiscPlan& plan) {
  OutputSet outputs;
  const std::string temp = stage_output(outputs, job.image_path);
  if (temp.empty()) return Error{};
  Status failed = write_image(job, plan, temp);
  if (!failed && !commit_outputs(outputs)) failed = Error{};
  if (failed) {
    discard_outputs(outputs);
    failed->text +=
        make_error("  (the incomplete image was removed; %s is as it was)\n", job.image_path.c_str()).text;
    return failed;
  }
  print_summary(job, plan);
  return std::nullopt;
}

Status build_dsd_disc(const DsdDiscJob& job) {
  DsdDiscPlan plan;
  if (Status e = plan_dsd_disc(job, plan)) return e;
  return write_dsd_disc(job, plan);
}

}  // namespace varn
