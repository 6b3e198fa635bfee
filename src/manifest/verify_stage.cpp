#include "frontend/stages.h"
#include "manifest/manifest.h"

namespace varn {

// C: --verify checks the image against the manifest beside it and ends the
// run: 0 every check passed, 3 a mismatch, 2 the files could not be read.
StageResult stage_verify(PackRun& run) {
  if (run.job.verify_path.empty()) return std::nullopt;
  const int result = verify_delivery(run.job.verify_path, std::string());
  if (result == 0) return 0;
  if (result == 1) return 3;
  return 2;
}

}  // namespace varn
