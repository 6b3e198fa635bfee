#include <cstdio>
#include <exception>

#include "frontend/stages.h"
#include "sacd/capacity_report.h"
#include "sacd/image_builder.h"
#include "sacd/layout.h"

namespace varn {

StageResult stage_build_image(PackRun& run) {
  try {
    DiscLayout& layout = run.layout;
    layout.tracks = &run.tracks;
    layout.stereo = run.stereo;
    layout.multi = run.multi;
    copy_album_fields(run.job, layout);
    if (!build_sacd_image(layout)) return 1;
    stage_cue_export(run);
    print_capacity_report(layout.output_path);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Error: %s\n", e.what());
    return 1;
  }
  return std::nullopt;
}

}  // namespace varn
