#include "frontend/stages.h"

namespace varn {

StageResult stage_preflight(PackRun&) { return std::nullopt; }

}  // namespace varn
