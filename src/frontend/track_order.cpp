#include "frontend/track_order.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "platform/exit_cleanup.h"
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
  // A number that repeats (the discs of a set, several albums) says nothing
  // of which track comes first: sorting would interleave them.
  for (size_t n = 1; n < order.size(); ++n) {
    if (tracks[order[n]].track_number != tracks[order[n - 1]].track_number) continue;
    const auto path = [&](size_t i) { return i < run.track_paths.size() ? run.track_paths[i].c_str() : "?"; };
    std::printf("  [Sort] track number %u is carried by %s and %s => the tracks keep the order they were given in\n",
                tracks[order[n]].track_number, path(order[n - 1]), path(order[n]));
    return;
  }
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
  rekey(run.job.album.isrcs, order);
  rekey(run.job.track_titles, order);
  rekey(run.job.album.track_artists, order);
}

void extract_cover(PackRun& run) {
  PackJob& job = run.job;
  const std::vector<uint8_t>& cover = run.tracks[0].cover;
  if (!job.album.cover_path.empty() || cover.empty()) return;
  const char* ext = ".jpg";
  static const uint8_t png_magic[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  if (cover.size() >= 4 && cover[0] == 0xFF && cover[1] == 0xD8) ext = ".jpg";
  else if (cover.size() >= 8 && std::equal(png_magic, png_magic + 8, cover.begin())) ext = ".png";

  // A private temporary file, never a name beside the image: that could
  // be a file of the user's, and the picture is only needed for this run.
  char pattern[512];
  std::snprintf(pattern, sizeof pattern, "%.460s/VarnPack_cover_XXXXXX%s", platform_temp_dir(), ext);
  if (!make_scratch_file(run.cover_scratch, pattern, cover)) {
    std::fprintf(stderr, "  \u26a0 [Cover] cannot extract the picture of the first track to %s: %s (the ISO will carry no cover)\n",
                 platform_temp_dir(), std::strerror(errno));
    return;
  }
  job.album.cover_path = run.cover_scratch.path;
  std::printf("  [Cover] auto-extracted to %s (%zu bytes)\n", job.album.cover_path.c_str(), cover.size());
}

}  // namespace varn
