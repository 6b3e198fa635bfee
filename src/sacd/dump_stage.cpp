#include <cstdio>

#include "frontend/stages.h"
#include "sacd/toc_dump.h"

namespace varn {

// Inspection mode: the planned TOC structures go into the directory named
// by -o instead of an image.
StageResult stage_toc_dump(PackRun& run) {
  if (!run.job.inspect_dir) return std::nullopt;
  std::string dir = run.job.output_path;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  std::printf("\nDumping TOC to '%s/':\n", dir == "/" ? "" : dir.c_str());
  if (run.layout.tracks != &run.tracks) run.layout.tracks = &run.tracks;
  return write_toc_dump(dir, run.layout);
}

}  // namespace varn
