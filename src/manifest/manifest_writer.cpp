// The delivery manifest of a finished image, from the digests taken while
// it was written.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "fs/sector_io.h"
#include "manifest/manifest.h"
#include "platform/platform.h"

namespace varn {

namespace {

constexpr int kVersionMajor = 6, kVersionMinor = 76, kVersionPatch = 9;

std::string base_name(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string manifest_lines(const std::string& image_path, uint64_t image_bytes, const std::string& image_sha,
                           const std::vector<ManifestArea>& areas, const std::vector<ManifestTrack>& entries) {
  std::string text;
  auto line = [&text](const char* format, auto... values) {
    const int n = std::snprintf(nullptr, 0, format, values...);
    const size_t at = text.size();
    text.resize(at + size_t(n) + 1);
    std::snprintf(text.data() + at, size_t(n) + 1, format, values...);
    text.resize(at + size_t(n));
  };
  line("# VarnTessel delivery manifest v1\ntool=VarnTessel\nversion=%d.%d.%d\n", kVersionMajor, kVersionMinor,
       kVersionPatch);
  line("generated=%lld\n", static_cast<long long>(volume_time()));
  line("iso=%s\n", manifest_text(base_name(image_path)).c_str());
  line("iso_bytes=%llu\niso_sectors=%u\niso_sha256=%s\n", static_cast<unsigned long long>(image_bytes),
       static_cast<uint32_t>(sectors_of(image_bytes)), image_sha.c_str());
  for (const ManifestArea& a : areas)
    line("area=%s dsd_rate=%d base_rate=%u dst=%d start_lsn=%u total_sectors=%u\n", a.name.c_str(),
         static_cast<int>(a.dsd_rate), a.base_rate, a.dst, a.start_lsn, a.total_sectors);
  for (const ManifestTrack& t : entries)
    line("track=%s %d start_lsn=%u sectors=%u frames=%llu sha256=%s title=%s\n", t.area.c_str(), t.number,
         t.start_lsn, t.sectors, static_cast<unsigned long long>(t.frames),
         t.sha256.empty() ? "-" : t.sha256.c_str(), manifest_text(t.title).c_str());
  return text;
}

}  // namespace

std::string manifest_path_for(const std::string& image_path) { return image_path + ".delivery.txt"; }

std::string manifest_text(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  return out;
}

DeliveryManifest manifest_from_digests(const std::string& image_path, uint64_t image_bytes,
                                       const std::string& image_sha, const std::vector<ManifestArea>& areas,
                                       const std::vector<ManifestTrack>& entries) {
  DeliveryManifest out;
  out.path = manifest_path_for(image_path);
  out.text = manifest_lines(image_path, image_bytes, image_sha, areas, entries);
  char line[256];
  std::snprintf(line, sizeof line, " (%llu bytes, %u sectors, %zu tracks)\n",
                static_cast<unsigned long long>(image_bytes), static_cast<uint32_t>(sectors_of(image_bytes)),
                entries.size());
  out.summary = "[manifest] " + out.path + line;
  return out;
}

}  // namespace varn
