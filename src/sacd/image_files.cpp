#include "sacd/image_files.h"

#include <algorithm>
#include <cstdio>

#include "sacd/layout.h"
#include "sacd/sector.h"

namespace varn {

namespace {

constexpr uint32_t kFrontGapFirst = 289;
constexpr uint32_t kFrontGapLimit = 510;

IsoFileEntry placed(const std::string& path, uint32_t lsn, uint64_t size) {
  IsoFileEntry e;
  e.path = path;
  e.lsn = lsn;
  e.size = size;
  return e;
}

std::string track_path(unsigned n, const char* ext) {
  char name[64];
  std::snprintf(name, sizeof name, "%s/TRACK%03u.%s", kAudioDirectory, n, ext);
  return name;
}

std::string area_toc_path(unsigned n) {
  char name[64];
  std::snprintf(name, sizeof name, "%s/2C_AREA%u.TOC", kAudioDirectory, n);
  return name;
}

void add_area(const DiscLayout& l, bool mch, std::vector<IsoFileEntry>& files) {
  const AreaPlan& plan = mch ? l.multi : l.stereo;
  if (plan.total_sectors == 0) return;
  const char* ext = mch ? "MCH" : "2CH";
  const uint32_t start = area_start_lsn(l, mch);
  char name[64];
  std::snprintf(name, sizeof name, "%s/2C_TAREA.%s", kAudioDirectory, ext);
  files.push_back(placed(name, start, uint64_t(plan.total_sectors) * kSectorSize));
  for (size_t i = 0; i < plan.track_start.size(); ++i)
    files.push_back(placed(track_path(unsigned(i + 1), ext),
                           start + plan.track_start[i], uint64_t(plan.track_sectors[i]) * kSectorSize));
}

}  // namespace

std::vector<IsoFileEntry> sacd_image_files(const DiscLayout& l, const CoverFile* cover,
                                           const std::string& album_info) {
  std::vector<IsoFileEntry> files;
  if (cover) {
    IsoFileEntry e;
    e.path = cover->name;
    e.content = cover->bytes;
    e.size = cover->bytes.size();
    files.push_back(std::move(e));
  }
  IsoFileEntry info;
  info.path = "SRM0.LST";
  info.content.assign(album_info.begin(), album_info.end());
  info.size = info.content.size();
  files.push_back(std::move(info));
  for (int copy = 1; copy <= 3; ++copy) {
    char name[32];
    std::snprintf(name, sizeof name, "MASTER%d.TOC", copy);
    files.push_back(placed(name, l.master_toc_lsn + 10 * uint32_t(copy - 1), 10 * kSectorSize));
  }
  const bool two = area_exists(l, false);
  const bool mch = area_exists(l, true);
  if (two) {
    files.push_back(placed(area_toc_path(1), area_toc_lsn(l, false),
                           uint64_t(area_toc_sectors(l, false)) * kSectorSize));
    add_area(l, false, files);
  }
  // The second Area TOC file always exists; without a multichannel area it
  // shows the first area's block. Its length is the block the layout really
  // reserves, which grows with the track text.
  if (mch || two) {
    files.push_back(placed(area_toc_path(2), area_toc_lsn(l, mch),
                           uint64_t(area_toc_sectors(l, mch)) * kSectorSize));
  }
  add_area(l, true, files);
  return files;
}

SacdPlacement sacd_placement(const DiscLayout& l, const std::vector<IsoFileEntry>& files) {
  SacdPlacement p;
  // The smallest volume holds the SACD data and the tail behind it; the
  // tail slot starts there at the earliest.
  const uint64_t minimum = sacd_end_lsn(l) + kVolumeTailSectors;
  uint32_t gap_end = kFrontGapLimit;
  uint64_t tail = minimum;
  uint64_t embedded = 0;
  for (const IsoFileEntry& e : files) {
    if (!e.content.empty()) {
      embedded += e.content.size();
      continue;
    }
    if (e.lsn > kFrontGapFirst) gap_end = std::min(gap_end, e.lsn);
    if (e.lsn != 0) tail = std::max(tail, uint64_t(e.lsn) + sectors_of(e.size));
  }
  uint64_t volume = minimum;
  if (embedded > uint64_t(gap_end - kFrontGapFirst) * kSectorSize)
    volume = std::max(minimum, sectors_of(embedded) + 16 + tail);
  p.window.gap_first = kFrontGapFirst;
  p.window.gap_end = gap_end;
  p.window.tail_lsn = uint32_t(tail + 8);
  p.volume_sectors = uint32_t(volume);
  return p;
}

std::vector<UdfFileEntry> udf_entries_of(const std::vector<IsoFileEntry>& files) {
  std::vector<UdfFileEntry> out;
  for (const IsoFileEntry& e : files) {
    if (e.lsn == 0) continue;
    UdfFileEntry u;
    const size_t slash = e.path.rfind('/');
    u.name = slash == std::string::npos ? e.path : e.path.substr(slash + 1);
    u.dir_path = slash == std::string::npos ? std::string() : e.path.substr(0, slash);
    u.lsn = e.lsn;
    u.size = e.content.empty() ? e.size : e.content.size();
    out.push_back(std::move(u));
  }
  return out;
}

}  // namespace varn
