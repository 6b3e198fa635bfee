#include "frontend/input_checks.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "frontend/cli.h"
#include "platform/small_file.h"
#include "sacd/cover_intake.h"

namespace varn {

StageResult check_track_numbers(const PackJob& job) {
  struct Map {
    const char* option;
    const std::map<int32_t, std::string>& entries;
  };
  const Map maps[] = {{"--track-title", job.track_titles},
                      {"--track-artist", job.album.track_artists},
                      {"--track-album", job.track_albums},
                      {"--isrc", job.album.isrcs}};
  bool ok = true;
  for (const Map& m : maps) {
    for (const auto& [key, text] : m.entries) {
      if (key >= 0 && size_t(key) < job.inputs.size()) continue;
      std::fprintf(stderr, "Error: %s names track %d, but there %s only %zu input file%s\n",
                   m.option, key + 1, job.inputs.size() == 1 ? "is" : "are", job.inputs.size(),
                   job.inputs.size() == 1 ? "" : "s");
      ok = false;
    }
  }
  return ok ? StageResult() : StageResult(1);
}

void warn_repeated_inputs(const PackJob& job) {
  const std::vector<std::string>& in = job.inputs;
  for (size_t j = 1; j < in.size(); ++j) {
    for (size_t i = 0; i < j; ++i) {
      std::error_code ec;
      const bool same = in[i] == in[j] || (std::filesystem::equivalent(in[i], in[j], ec) && !ec);
      if (!same) continue;
      std::fprintf(stderr, "Warning: input %zu (%s) is the same file as input %zu (%s); it makes two tracks\n",
                   j + 1, in[j].c_str(), i + 1, in[i].c_str());
      break;
    }
  }
}

StageResult check_cover_option(const PackJob& job) {
  if (job.album.cover_path.empty()) return std::nullopt;
  CoverFile cover;
  std::string why;
  if (read_cover(job.album.cover_path, cover, why)) return std::nullopt;
  std::fprintf(stderr, "Error: --cover %s: %s (a JPEG or PNG picture of at most 16 MiB)\n",
               job.album.cover_path.c_str(), why.c_str());
  return 1;
}

StageResult check_input_files(const PackJob& job) {
  size_t bad = 0;
  for (const std::string& name : job.inputs) {
    if (input_kind(name) == InputKind::Unknown) {
      std::fprintf(stderr, "Unknown extension: %s\n", name.c_str());
      ++bad;
      continue;
    }
    uint64_t size = 0;
    std::string why;
    if (!probe_regular_file(name, size, why)) {
      std::fprintf(stderr, "  Error: cannot open %s: %s\nFailed to read: %s\n", name.c_str(),
                   why.c_str(), name.c_str());
      ++bad;
    }
  }
  if (bad == 0) return std::nullopt;
  std::fprintf(stderr, "Error: %zu of %zu input files cannot be used; nothing was written\n", bad,
               job.inputs.size());
  return 1;
}

void drop_unusable_picture(PackRun& run) {
  if (!run.job.album.cover_path.empty() || run.tracks.empty()) return;
  std::vector<uint8_t>& picture = run.tracks[0].cover;
  if (picture.empty()) return;
  const char* where = run.track_paths.empty() ? "the first track" : run.track_paths[0].c_str();
  // Nobody asked for this picture: one the disc cannot carry is left out,
  // and the disc is made without a cover.
  if (picture.size() > kCoverLimit) {
    std::fprintf(stderr, "  [Cover] the picture in the tags of %s: %zu bytes exceeds the 16 MiB limit => not used as the cover\n",
                 where, picture.size());
  } else if (cover_name_for(picture).empty()) {
    std::fprintf(stderr, "  [Cover] the picture in the tags of %s is neither JPEG nor PNG => not used as the cover\n", where);
  } else {
    return;
  }
  std::vector<uint8_t>().swap(picture);
}

}  // namespace varn
