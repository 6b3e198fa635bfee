// Writing a planned DSD Disc: the ISO 9660 bridge (or the bare UDF
// recognition sequence), the file data from sector 257, the UDF volume, and
// the summary.
#include "dsddisc/dsd_disc.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "audio/open_input_file.h"
#include "dsddisc/dsd_disc_copy.h"
#include "dsddisc/dsd_disc_plan.h"
#include "fs/iso9660.h"
#include "fs/sector_io.h"
#include "fs/udf.h"
#include "platform/error.h"
#include "platform/platform.h"
#include "platform/progress.h"
#include "platform/staged_output.h"
#include "platform/report.h"

namespace varn {

namespace {

Status write_file_data(const std::string& path, const DsdDiscPlan& plan) {
  FILE* image = open_input_file(path, "r+b");
  if (!image) {
    return make_error("Error: cannot reopen %s\n", path.c_str());
  }
  std::vector<uint8_t> buffer;
  for (const DsdDiscFile& f : plan.tracks) {
    if (Status e = copy_file_into_image(image, f.lsn, f.source_path, f.size, buffer)) {
      std::fclose(image);
      return e;
    }
  }
  for (const DsdDiscFile& p : plan.playlists) {
    if (Status e = write_bytes_into_image(image, p.lsn, p.text)) {
      std::fclose(image);
      return e;
    }
  }
  if (!close_written_file(image)) {
    return make_error("Error: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
  }
  return std::nullopt;
}

// The volumes and the data are written with unchecked seeks and writes in
// places; the finished image must at least have its full length.
Status image_complete(const std::string& path, uint32_t blocks) {
  int64_t expected = int64_t(blocks) * 2048;
  int64_t size = -1;
  if (FILE* f = open_input_file(path, "rb")) {
    size = platform_file_size(f);
    std::fclose(f);
  }
  if (size < expected) {
    return make_error("Error: image %s is incomplete (%lld of %lld bytes)\n", path.c_str(),
                      static_cast<long long>(size < 0 ? 0 : size), static_cast<long long>(expected));
  }
  return std::nullopt;
}

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
// complete image is renamed into place. The volume writers and the space
// check report their own failures, which come back as errors without text.
Status write_image(const DsdDiscJob& job, const DsdDiscPlan& plan, const std::string& path) {
  const uint32_t blocks = plan.block_count();
  if (!room_for_image(path, uint64_t(blocks) * 2048, job.image_path)) return Error{};
  if (job.iso_bridge) {
    std::vector<IsoFileEntry> no_files;
    if (!write_iso9660_volume(path, blocks, no_files, plan.label, EmbedWindow{289, 510, 0})) return Error{};
  } else if (!write_udf_recognition(path, 16)) {
    return Error{};
  }
  progress_begin(ProgressStep::Writing, uint64_t(blocks) * 2048);
  Status failed = write_file_data(path, plan);
  if (!failed && !write_udf_volume(path, dsd_disc_udf_entries(plan), kDsdDiscFirstSector, blocks, plan.label))
    failed = Error{};
  if (!failed) failed = image_complete(path, blocks);
  progress_end(ProgressStep::Writing);
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
