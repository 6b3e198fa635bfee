#include "frontend/stages.h"

namespace varn {

void stage_dst_order(PackRun& run, InputTrack&) {
  run.dst_order = (run.job.dst_fast && !run.job.dst_order_given) ? 32 : static_cast<int>(run.job.dst_order);
}
void stage_dst_encode(PackRun&, InputTrack&) {}

}  // namespace varn
