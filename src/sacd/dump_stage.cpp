#include "frontend/stages.h"

namespace varn {

StageResult stage_toc_dump(PackRun& run) {
  if (!run.job.inspect_dir) return std::nullopt;
  return std::nullopt;
}

}  // namespace varn
