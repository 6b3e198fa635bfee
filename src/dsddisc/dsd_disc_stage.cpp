#include "frontend/stages.h"

namespace varn {

StageResult stage_dsd_disc(PackRun& run) {
  if (!run.job.dsd_disc) return std::nullopt;
  return std::nullopt;
}

}  // namespace varn
