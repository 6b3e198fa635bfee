#include "frontend/stages.h"

namespace varn {

StageResult stage_build_image(PackRun&) { return std::nullopt; }

}  // namespace varn
