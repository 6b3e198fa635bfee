#include <cstdio>

#include "frontend/stages.h"

namespace varn {

// The DSD Disc builder is not part of this build yet: refuse the mode
// rather than fall through to an SACD run.
StageResult stage_dsd_disc(PackRun& run) {
  if (!run.job.dsd_disc) return std::nullopt;
  std::fprintf(stderr, "Error: --dsd-disc is not available in this build\n");
  return 1;
}

}  // namespace varn
