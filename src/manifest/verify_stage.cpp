#include "frontend/stages.h"

namespace varn {

StageResult stage_verify(PackRun& run) {
  if (run.job.verify_path.empty()) return std::nullopt;
  return std::nullopt;
}

}  // namespace varn
