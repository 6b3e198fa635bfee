#include "frontend/track_order.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "platform/platform.h"

namespace varn {

static void rekey(std::map<int32_t, std::string>& map, const std::vector<size_t>& order) {
  std::vector<int32_t> new_pos(order.size());
  for (size_t n = 0; n < order.size(); ++n) new_pos[order[n]] = static_cast<int32_t>(n);
  std::map<int32_t, std::string> out;
  for (auto& [key, value] : map) {
    if (key >= 0 && static_cast<size_t>(key) < order.size()) out[new_pos[static_cast<size_t>(key)]] = std::move(value);
    else out[key] = std::move(value);  // names no track; kept as given
  }
  map = std::move(out);
}

void sort_by_track_number(PackRun& run) {
  auto& tracks = run.tracks;
  if (tracks.size() < 2) return;
  for (const InputTrack& t : tracks)
    if (t.track_number == 0) return;
  std::vector<size_t> order(tracks.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return tracks[a].track_number < tracks[b].track_number; });
  std::printf("  [Sort] sorting %zu  tracks\n", tracks.size());
  std::vector<InputTrack> sorted;
  std::vector<std::string> paths;
  sorted.reserve(tracks.size());
  for (size_t old : order) {
    sorted.push_back(std::move(tracks[old]));
    paths.push_back(run.track_paths[old]);
  }
  tracks = std::move(sorted);
  run.track_paths = std::move(paths);
  rekey(run.job.track_isrcs, order);
  rekey(run.job.track_titles, order);
  rekey(run.job.track_artists, order);
}

void extract_cover(PackRun& run) {
  PackJob& job = run.job;
  const std::vector<uint8_t>& cover = run.tracks[0].cover;
  if (!job.cover_path.empty() || cover.empty()) return;
  const char* ext = ".jpg";
  static const uint8_t png_magic[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  if (cover.size() >= 4 && cover[0] == 0xFF && cover[1] == 0xD8) ext = ".jpg";
  else if (cover.size() >= 8 && std::equal(png_magic, png_magic + 8, cover.begin())) ext = ".png";

  std::string name;
  if (!job.output_path.empty() && !job.inspect_dir) {
    size_t dot = job.output_path.rfind('.');
    name = (dot == std::string::npos ? job.output_path : job.output_path.substr(0, dot)) + "_cover" + ext;
  } else {
    char pattern[512];
    std::snprintf(pattern, sizeof pattern, "%.460s/VarnPack_cover_XXXXXX", platform_temp_dir());
    int fd = platform_make_unique_file(pattern);
    if (fd >= 0) {
      platform_close_fd(fd);
      std::remove(pattern);
      name = std::string(pattern) + ext;
    } else {
      name = std::string("/tmp/VarnPack_cover") + ext;
    }
  }
  FILE* f = platform_fopen(name, "wb");
  if (!f) return;
  size_t written = std::fwrite(cover.data(), 1, cover.size(), f);
  bool ok = std::fclose(f) == 0 && written == cover.size();
  if (!ok) {
    // A cover file cut short would be embedded as a broken picture.
    std::remove(name.c_str());
    return;
  }
  job.cover_path = name;
  std::printf("  [Cover] auto-extracted to %s (%zu bytes)\n", name.c_str(), cover.size());
}

}  // namespace varn
