#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/input_track.h"
#include "frontend/pack_job.h"
#include "metadata/cue_sheet.h"
#include "platform/exit_cleanup.h"
#include "sacd/disc_layout.h"

namespace varn {

// Everything one packing run owns: the options, the track list (with the
// name of the file each track was read from), the imported CUE sheet, the
// two area lists and the planned layout.
struct PackRun {
  PackJob job;
  std::vector<InputTrack> tracks;
  std::vector<std::string> track_paths;
  CueSheet cue;
  bool have_cue = false;
  std::vector<uint64_t> stereo_list;
  std::vector<uint64_t> multi_list;
  DiscLayout layout;  // fixed positions filled after planning
  ScratchFile cover_scratch;  // the first track's picture, when extracted
  std::shared_ptr<DstSpool> dst_spool;  // coded frames of every track, once one is coded
};

// A stage either lets the run go on (nullopt) or ends it with an exit code.
using StageResult = std::optional<int>;

}  // namespace varn
