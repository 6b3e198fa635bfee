// Writing the delivery manifest beside a finished image.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "audio/open_input_file.h"
#include "manifest/manifest.h"
#include "manifest/sha256.h"
#include "platform/platform.h"
#include "platform/progress.h"
#include "platform/staged_output.h"
#include "platform/report.h"

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
       static_cast<uint32_t>((image_bytes + 2047) / 2048), image_sha.c_str());
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

void manifest_entries(const std::vector<InputTrack>& tracks, const DiscLayout& layout,
                      std::vector<ManifestArea>& areas, std::vector<ManifestTrack>& entries) {
  areas.clear();
  entries.clear();
  std::vector<const InputTrack*> stereo, multi;
  for (const InputTrack& t : tracks) (in_stereo_area(t) ? stereo : multi).push_back(&t);
  add_area("2ch", false, layout.stereo, layout.audio_start_lsn, stereo, areas, entries);
  add_area("mch", true, layout.multi, layout.audio_start_lsn + layout.stereo.total_sectors, multi, areas,
           entries);
}

int delivery_manifest(const std::vector<InputTrack>& tracks, const DiscLayout& layout,
                      const std::string& image_file, const std::string& image_path, DeliveryManifest& out) {
  if (image_file.empty() || image_path.empty()) return 2;
  FILE* image = open_input_file(image_file, "rb");
  if (!image) {
    report_error("[manifest] cannot open ISO: %s\n", image_path.c_str());
    return 2;
  }
  const int64_t size = platform_file_size(image);
  if (size < 0) {
    std::fclose(image);
    report_error("[manifest] cannot get the ISO size\n");
    return 2;
  }
  const uint64_t image_bytes = static_cast<uint64_t>(size);
  std::vector<ManifestArea> areas;
  std::vector<ManifestTrack> entries;
  manifest_entries(tracks, layout, areas, entries);
  uint64_t to_hash = image_bytes;
  for (const ManifestTrack& t : entries) to_hash += uint64_t(t.sectors) * 2048;
  progress_begin(ProgressStep::Hashing, to_hash);
  std::string image_sha;
  if (!sha256_file_range(image, 0, image_bytes, image_sha)) {
    std::fclose(image);
    report_error("[manifest] whole-image hash failed\n");
    return 2;
  }

  for (ManifestTrack& t : entries) {
    if (t.sectors == 0) continue;
    const uint64_t offset = uint64_t(t.start_lsn) * 2048;
    const uint64_t length = uint64_t(t.sectors) * 2048;
    if (offset + length > image_bytes) {
      report_error("[manifest] track %s%d range out of bounds (off=%llu len=%llu / file=%llu)\n",
                   t.area.c_str(), t.number, static_cast<unsigned long long>(offset),
                   static_cast<unsigned long long>(length), static_cast<unsigned long long>(image_bytes));
      continue;
    }
    if (!sha256_file_range(image, offset, length, t.sha256)) {
      std::fclose(image);
      report_error("[manifest] track %s%d hash failed\n", t.area.c_str(), t.number);
      return 2;
    }
  }
  std::fclose(image);
  progress_end(ProgressStep::Hashing);
  manifest_from_digests(image_path, image_bytes, image_sha, areas, entries, out);
  return 0;
}

void manifest_from_digests(const std::string& image_path, uint64_t image_bytes, const std::string& image_sha,
                           const std::vector<ManifestArea>& areas, const std::vector<ManifestTrack>& entries,
                           DeliveryManifest& out) {
  out.path = manifest_path_for(image_path);
  out.text = manifest_lines(image_path, image_bytes, image_sha, areas, entries);
  char line[256];
  std::snprintf(line, sizeof line, " (%llu bytes, %u sectors, %zu tracks)\n",
                static_cast<unsigned long long>(image_bytes), static_cast<uint32_t>((image_bytes + 2047) / 2048),
                entries.size());
  out.summary = "[manifest] " + out.path + line;
}

int write_delivery_manifest(const std::vector<InputTrack>& tracks, const DiscLayout& layout,
                            const std::string& image_path) {
  DeliveryManifest m;
  if (const int r = delivery_manifest(tracks, layout, image_path, image_path, m)) return r;
  OutputSet out;
  if (!stage_output_bytes(out, m.path, m.text) || !commit_outputs(out)) {
    report_error("[manifest] cannot write the manifest: %s\n", m.path.c_str());
    return 2;
  }
  report_note("%s", m.summary.c_str());
  return 0;
}

}  // namespace varn
