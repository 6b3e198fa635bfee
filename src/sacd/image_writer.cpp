#include "sacd/image_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fs/sector_io.h"
#include "fs/sector_sink.h"
#include "manifest/sha256.h"
#include "platform/platform.h"
#include "platform/progress.h"
#include "platform/report.h"
#include "sacd/audio_area.h"

namespace varn {

namespace {

// Sectors per write: large enough that the writes cost little beside the
// copying, small enough to stay in the caches.
constexpr size_t kBatchSectors = 2048;

// Digests of the image and of the wanted ranges, fed batch by batch.
struct Hashing {
  const std::vector<SectorRange>* ranges = nullptr;
  Sha256 image;
  std::vector<Sha256> range;
  size_t next = 0;  // first range not yet finished

  void feed(const uint8_t* bytes, size_t count, uint64_t first) {
    sha256_update(image, bytes, count * kSectorSize);
    const uint64_t end = first + count;
    for (size_t k = next; k < ranges->size(); ++k) {
      const SectorRange& r = (*ranges)[k];
      if (r.first >= end) break;
      const uint64_t from = std::max<uint64_t>(first, r.first);
      const uint64_t to = std::min<uint64_t>(end, uint64_t(r.first) + r.count);
      if (from < to) sha256_update(range[k], bytes + (from - first) * kSectorSize, size_t(to - from) * kSectorSize);
      if (uint64_t(r.first) + r.count <= end && k == next) ++next;
    }
  }
};

bool write_extent(SectorSink& sink, const Extent& e, const ImagePlan& plan, const DiscLayout& layout) {
  switch (e.kind) {
    case kPartStructure: {
      const SectorRun& run = plan.structures[e.index];
      sink_put(sink, run.bytes.data(), run.bytes.size());
      return true;
    }
    case kPartAreaAudio:
      return write_area_audio(sink, layout, e.index == 1);
    case kPartRunOut: {
      const Sector run_out = run_out_sector();
      for (uint32_t k = 0; k < e.count; ++k) std::memcpy(sink_next(sink), run_out.data(), kSectorSize);
      return true;
    }
  }
  return false;
}

}  // namespace

bool write_plan_sectors(SectorSink& sink, const ImagePlan& plan, const DiscLayout& layout) {
  for (const Extent& e : plan.map.extents) {
    sink_zeros(sink, e.first - sink.sectors);
    if (!write_extent(sink, e, plan, layout)) return false;
  }
  return true;
}

bool write_planned_image(const ImagePlan& plan, const DiscLayout& layout, const std::string& path,
                         const std::vector<SectorRange>& ranges, ImageDigests* digests) {
  FILE* f = platform_fopen(path, "wb");
  if (!f) {
    report_error("Error: cannot open %s for the ISO 9660 volume\n", path.c_str());
    return false;
  }
  Hashing hashing;
  SectorSink sink;
  sink.file = f;
  sink.capacity = kBatchSectors;
  if (digests) {
    hashing.ranges = &ranges;
    sha256_init(hashing.image);
    hashing.range.resize(ranges.size());
    for (Sha256& h : hashing.range) sha256_init(h);
    sink.watch = [&hashing](const uint8_t* bytes, size_t count, uint64_t first) {
      hashing.feed(bytes, count, first);
    };
  }
  progress_begin(ProgressStep::Writing, uint64_t(plan.total_sectors) * kSectorSize);
  const bool ok = write_plan_sectors(sink, plan, layout);
  if (ok) {
    sink_zeros(sink, plan.total_sectors - sink.sectors);
    sink_flush(sink);
  }
  progress_end(ProgressStep::Writing);
  const bool written = !sink.failed && close_written_file(f);
  if (!ok) return false;
  if (!written) {
    report_error("Error: writing %s failed: %s\n", path.c_str(), std::strerror(sink.failed ? sink.error : errno));
    return false;
  }
  if (digests) {
    uint8_t d[32];
    sha256_final(hashing.image, d);
    digests->image = sha256_hex(d);
    digests->ranges.clear();
    for (Sha256& h : hashing.range) {
      sha256_final(h, d);
      digests->ranges.push_back(sha256_hex(d));
    }
  }
  return true;
}

}  // namespace varn
