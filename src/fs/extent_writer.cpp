#include "fs/extent_writer.h"

#include <cerrno>
#include <cstring>

#include "fs/sector_io.h"
#include "platform/platform.h"
#include "platform/progress.h"

namespace varn {

namespace {

// Sectors per write: large enough that the writes cost little beside the
// copying, small enough that the batches in flight stay in the caches.
constexpr size_t kBatchSectors = 256;

}  // namespace

Status write_extents(SectorSink& sink, const ExtentMap& map, const ExtentFiller& fill) {
  for (const Extent& e : map.extents) {
    if (sink.failed) return std::nullopt;
    sink_zeros(sink, e.first - sink.sectors);
    if (Status error = fill(sink, e)) return error;
    if (sink.sectors != extent_end(e) && !sink.failed) {
      return make_error("Error: internal: %s took %llu sectors instead of %u\n", e.name.c_str(),
                        static_cast<unsigned long long>(sink.sectors - e.first), e.count);
    }
  }
  return std::nullopt;
}

Status write_image_file(FILE* file, const std::string& name, const ExtentMap& map, uint64_t total_sectors,
                        const ExtentFiller& fill, SectorWatch watch) {
  SectorSink sink;
  sink.file = file;
  sink.capacity = kBatchSectors;
  sink.watch = std::move(watch);
  // The watcher or the writing goes to a second thread while this one
  // makes the next batch.
  if (platform_hardware_threads() > 1) sink_share_work(sink);
  progress_begin(ProgressStep::Writing, total_sectors * kSectorSize);
  Status failed = write_extents(sink, map, fill);
  if (!failed && !sink.failed) {
    sink_zeros(sink, total_sectors - sink.sectors);
    sink_flush(sink);
  }
  sink_end_sharing(sink);
  progress_end(ProgressStep::Writing);
  const bool written = !sink.failed && close_written_file(file);
  if (failed) return failed;
  if (!written) return make_error("Error: writing %s failed: %s\n", name.c_str(), std::strerror(sink.failed ? sink.error : errno));
  return std::nullopt;
}

}  // namespace varn
