#include "sacd/image_writer.h"

#include <algorithm>
#include <cstring>

#include "fs/extent_writer.h"
#include "fs/sector_io.h"
#include "fs/sector_sink.h"
#include "manifest/sha256.h"
#include "platform/platform.h"
#include "platform/error.h"
#include "platform/report.h"
#include "sacd/audio_area.h"

namespace varn {

namespace {

// Digests of the image and of the wanted ranges, fed batch by batch.
struct Hashing {
  const std::vector<SectorRange>* ranges = nullptr;
  Sha256 image;
  std::vector<Sha256> range;
  size_t next = 0;  // first range not yet finished

  // Sectors inside a range go into the image's digest and the range's in
  // one pass over the bytes; ranges are in sector order.
  void feed(const uint8_t* bytes, size_t count, uint64_t first) {
    const uint64_t end = first + count;
    uint64_t at = first;  // first sector not yet in the image's digest
    for (size_t k = next; k < ranges->size(); ++k) {
      const SectorRange& r = (*ranges)[k];
      if (r.first >= end) break;
      const uint64_t from = std::max<uint64_t>(first, r.first);
      const uint64_t to = std::min<uint64_t>(end, uint64_t(r.first) + r.count);
      if (from < to) {
        const uint8_t* p = bytes + (from - first) * kSectorSize;
        const size_t n = size_t(to - from) * kSectorSize;
        if (from >= at) {
          sha256_update(image, bytes + (at - first) * kSectorSize, size_t(from - at) * kSectorSize);
          sha256_update_pair(image, range[k], p, n);
          at = to;
        } else {
          sha256_update(range[k], p, n);
        }
      }
      if (uint64_t(r.first) + r.count <= end && k == next) ++next;
    }
    sha256_update(image, bytes + (at - first) * kSectorSize, size_t(end - at) * kSectorSize);
  }
};

Status write_extent(SectorSink& sink, const Extent& e, const ImagePlan& plan, const DiscLayout& layout) {
  switch (e.kind) {
    case kPartStructure: {
      const SectorRun& run = plan.structures[e.index];
      sink_put(sink, run.bytes.data(), run.bytes.size());
      return std::nullopt;
    }
    case kPartAreaAudio:
      return write_area_audio(sink, layout, e.index == 1);
    case kPartRunOut: {
      const Sector run_out = run_out_sector();
      for (uint32_t k = 0; k < e.count; ++k) std::memcpy(sink_next(sink), run_out.data(), kSectorSize);
      return std::nullopt;
    }
  }
  return make_error("Error: internal: no writer for %s\n", e.name.c_str());
}

}  // namespace

Status write_plan_sectors(SectorSink& sink, const ImagePlan& plan, const DiscLayout& layout) {
  return write_extents(sink, plan.map,
                       [&](SectorSink& to, const Extent& e) { return write_extent(to, e, plan, layout); });
}

Status write_planned_image(const ImagePlan& plan, const DiscLayout& layout, const std::string& path,
                           const std::vector<SectorRange>& ranges, ImageDigests* digests) {
  // The user knows the image by the name given, not by the file that
  // stands in for it until it is complete.
  const std::string& name = layout.output_path.empty() ? path : layout.output_path;
  FILE* f = platform_fopen_write(path);
  if (!f) return make_error("Error: cannot open %s for the ISO 9660 volume\n", name.c_str());
  Hashing hashing;
  SectorWatch watch;
  if (digests) {
    hashing.ranges = &ranges;
    sha256_init(hashing.image);
    hashing.range.resize(ranges.size());
    for (Sha256& h : hashing.range) sha256_init(h);
    watch = [&hashing](const uint8_t* bytes, size_t count, uint64_t first) { hashing.feed(bytes, count, first); };
  }
  const Status failed = write_image_file(
      f, name, plan.map, plan.total_sectors,
      [&](SectorSink& sink, const Extent& e) { return write_extent(sink, e, plan, layout); }, std::move(watch));
  if (failed) return failed;
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
  return std::nullopt;
}

}  // namespace varn
