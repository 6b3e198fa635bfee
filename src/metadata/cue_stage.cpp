#include "frontend/stages.h"

namespace varn {

StageResult stage_cue_import(PackRun&) { return std::nullopt; }
void stage_cue_track_text(PackRun&, InputTrack&, size_t, bool) {}
void stage_cue_track_isrc(PackRun&, InputTrack&, size_t) {}
void stage_cue_export(PackRun&) {}

}  // namespace varn
