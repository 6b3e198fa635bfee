#include "frontend/stages.h"

namespace varn {

StageResult stage_plan_layout(PackRun&) { return std::nullopt; }

}  // namespace varn
