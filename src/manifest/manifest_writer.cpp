// Writing the delivery manifest beside a finished image.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "audio/open_input_file.h"
#include "manifest/manifest.h"
#include "manifest/sha256.h"
#include "platform/platform.h"

namespace varn {

namespace {

constexpr int kVersionMajor = 6, kVersionMinor = 76, kVersionPatch = 9;

std::string base_name(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void add_area(const char* name, bool multichannel, const AreaPlan& plan, uint32_t start_lsn,
              const std::vector<const InputTrack*>& inputs, std::vector<ManifestArea>& areas,
              std::vector<ManifestTrack>& entries) {
  if (plan.track_start.empty()) return;
  ManifestArea area;
  area.name = name;
  area.dst = multichannel ? 1 : 0;
  if (!inputs.empty()) {
    area.dsd_rate = inputs[0]->rate_multiple;
    area.base_rate = base_rate_of(inputs[0]->sample_rate);
    area.dst = inputs[0]->is_dst ? 1 : 0;
  }
  area.start_lsn = start_lsn;
  area.total_sectors = plan.total_sectors;
  areas.push_back(area);
  for (size_t i = 0; i < plan.track_start.size(); ++i) {
    ManifestTrack t;
    t.area = name;
    t.number = static_cast<int>(i + 1);
    t.start_lsn = start_lsn + plan.track_start[i];
    t.sectors = i < plan.track_sectors.size() ? plan.track_sectors[i] : 0;
    t.frames = i < plan.track_frames.size() ? plan.track_frames[i] : 0;
    if (i < inputs.size()) t.title = inputs[i]->title;
    entries.push_back(std::move(t));
  }
}

// Writes every line; false as soon as one write fails.
bool write_lines(FILE* f, const std::string& image_path, uint64_t image_bytes, uint32_t image_sectors,
                 const std::string& image_sha, const std::vector<ManifestArea>& areas,
                 const std::vector<ManifestTrack>& entries) {
  bool ok = std::fprintf(f, "# VarnTessel delivery manifest v1\ntool=VarnTessel\nversion=%d.%d.%d\n",
                         kVersionMajor, kVersionMinor, kVersionPatch) > 0;
  ok = ok && std::fprintf(f, "generated=%lld\n", static_cast<long long>(volume_time())) > 0;
  ok = ok && std::fprintf(f, "iso=%s\n", manifest_text(base_name(image_path)).c_str()) > 0;
  ok = ok && std::fprintf(f, "iso_bytes=%llu\niso_sectors=%u\niso_sha256=%s\n",
                          static_cast<unsigned long long>(image_bytes), image_sectors,
                          image_sha.c_str()) > 0;
  for (const ManifestArea& a : areas) {
    if (!ok) break;
    ok = std::fprintf(f, "area=%s dsd_rate=%d base_rate=%u dst=%d start_lsn=%u total_sectors=%u\n",
                      a.name.c_str(), static_cast<int>(a.dsd_rate), a.base_rate, a.dst, a.start_lsn,
                      a.total_sectors) > 0;
  }
  for (const ManifestTrack& t : entries) {
    if (!ok) break;
    ok = std::fprintf(f, "track=%s %d start_lsn=%u sectors=%u frames=%llu sha256=%s title=%s\n",
                      t.area.c_str(), t.number, t.start_lsn, t.sectors,
                      static_cast<unsigned long long>(t.frames),
                      t.sha256.empty() ? "-" : t.sha256.c_str(), manifest_text(t.title).c_str()) > 0;
  }
  return ok;
}

}  // namespace

std::string manifest_path_for(const std::string& image_path) { return image_path + ".delivery.txt"; }

std::string manifest_text(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  return out;
}

void manifest_entries(const std::vector<InputTrack>& tracks, const DiscLayout& layout,
                      std::vector<ManifestArea>& areas, std::vector<ManifestTrack>& entries) {
  areas.clear();
  entries.clear();
  std::vector<const InputTrack*> stereo, multi;
  for (const InputTrack& t : tracks) (t.channels == 2 ? stereo : multi).push_back(&t);
  add_area("2ch", false, layout.stereo, layout.audio_start_lsn, stereo, areas, entries);
  add_area("mch", true, layout.multi, layout.audio_start_lsn + layout.stereo.total_sectors, multi, areas,
           entries);
}

int write_delivery_manifest(const std::vector<InputTrack>& tracks, const DiscLayout& layout,
                            const std::string& image_path) {
  if (image_path.empty()) return 2;
  FILE* image = open_input_file(image_path, "rb");
  if (!image) {
    std::fprintf(stderr, "[manifest] cannot open ISO: %s\n", image_path.c_str());
    return 2;
  }
  const int64_t size = platform_file_size(image);
  if (size < 0) {
    std::fclose(image);
    std::fprintf(stderr, "[manifest] cannot get the ISO size\n");
    return 2;
  }
  const uint64_t image_bytes = static_cast<uint64_t>(size);
  std::string image_sha;
  if (!sha256_file_range(image, 0, image_bytes, image_sha)) {
    std::fclose(image);
    std::fprintf(stderr, "[manifest] whole-image hash failed\n");
    return 2;
  }

  std::vector<ManifestArea> areas;
  std::vector<ManifestTrack> entries;
  manifest_entries(tracks, layout, areas, entries);
  for (ManifestTrack& t : entries) {
    if (t.sectors == 0) continue;
    const uint64_t offset = uint64_t(t.start_lsn) * 2048;
    const uint64_t length = uint64_t(t.sectors) * 2048;
    if (offset + length > image_bytes) {
      std::fprintf(stderr, "[manifest] track %s%d range out of bounds (off=%llu len=%llu / file=%llu)\n",
                   t.area.c_str(), t.number, static_cast<unsigned long long>(offset),
                   static_cast<unsigned long long>(length), static_cast<unsigned long long>(image_bytes));
      continue;
    }
    if (!sha256_file_range(image, offset, length, t.sha256)) {
      std::fclose(image);
      std::fprintf(stderr, "[manifest] track %s%d hash failed\n", t.area.c_str(), t.number);
      return 2;
    }
  }
  std::fclose(image);

  // The lines go to a temporary file first; only a complete manifest is
  // renamed into place.
  const std::string path = manifest_path_for(image_path);
  const std::string temp = path + ".tmp";
  FILE* out = platform_fopen(temp, "wb");
  if (!out) {
    std::fprintf(stderr, "[manifest] cannot write the manifest: %s\n", path.c_str());
    return 2;
  }
  const uint32_t image_sectors = static_cast<uint32_t>((image_bytes + 2047) / 2048);
  bool ok = write_lines(out, image_path, image_bytes, image_sectors, image_sha, areas, entries);
  ok = (std::fflush(out) == 0) && ok;
  ok = (std::ferror(out) == 0) && ok;
  ok = (std::fclose(out) == 0) && ok;
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    std::fprintf(stderr, "[manifest] cannot write the manifest: %s\n", path.c_str());
    return 2;
  }
  std::printf("[manifest] %s (%llu bytes, %u sectors, %zu tracks)\n", path.c_str(),
              static_cast<unsigned long long>(image_bytes), image_sectors, entries.size());
  return 0;
}

}  // namespace varn
