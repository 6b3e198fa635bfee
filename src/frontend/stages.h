// The stage points of the packing driver. Each subsystem implements its
// stages in its own folder; the driver calls them at fixed points.
#pragma once

#include <cstddef>

#include <string>

#include "frontend/pack_run.h"
#include "platform/staged_output.h"

namespace varn {

// A: CUE import and album merge (metadata), whatever the mode.
StageResult stage_cue_import(PackRun& run);
// B: DSD Disc build when --dsd-disc is set (dsddisc); ends the run.
StageResult stage_dsd_disc(PackRun& run);
// C: verify when --verify is set (manifest); ends the run.
StageResult stage_verify(PackRun& run);
// D: per track, CUE title and performer (metadata). `title_from_tag` says
// whether the reader supplied the title (one made from the file name does
// not count).
void stage_cue_track_text(PackRun& run, InputTrack& track, size_t p, bool title_from_tag);
// E: per track, CUE ISRC (metadata).
void stage_cue_track_isrc(PackRun& run, InputTrack& track, size_t p);
// F: per track, DST prediction order and the stereo note (dst).
void stage_dst_order(PackRun& run, InputTrack& track);
// G: per track, DST coding (dst).
void stage_dst_encode(PackRun& run, InputTrack& track);
// H: inspection dump when -o names a directory (sacd); ends the run.
StageResult stage_toc_dump(PackRun& run);
// I: metadata pre-flight (metadata); may end the run.
StageResult stage_preflight(PackRun& run);
// Before the inputs are read (sacd): none of the outputs of the image
// `image` (the image, its manifest, its CUE sheet) may be one of the inputs.
StageResult stage_check_outputs(const PackRun& run, const std::string& image);
// J: image build and capacity report (sacd); calls the CUE export.
StageResult stage_build_image(PackRun& run);
// Part of J, after a successful build: stages the CUE sheet beside the
// image into the run's outputs; `report` receives its line for after the
// commit. False after printing why.
bool stage_cue_export(PackRun& run, OutputSet& outputs, std::string& report);

}  // namespace varn

namespace varn {
// Steps 23 to 25 of the driver (sacd): area assignment done by the driver,
// then area planning, the fixed positions and the printed plan. A job the
// Area TOCs cannot describe is refused here (message printed, exit 1).
StageResult stage_plan_layout(PackRun& run);
}  // namespace varn
