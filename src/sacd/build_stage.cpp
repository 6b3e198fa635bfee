#include <cstdio>

#include "frontend/stages.h"

namespace varn {

// The image builder is not part of this build yet: say so and fail rather
// than end a packing run with success and no image.
StageResult stage_build_image(PackRun& run) {
  std::fprintf(stderr, "Error: writing the SACD image is not available in this build (%s not written)\n",
               run.job.output_path.c_str());
  return 1;
}

}  // namespace varn
