// The steps of a packing run: each takes the run, calls the subsystems and
// says whether the run goes on.
#pragma once

#include <cstddef>

#include <string>

#include "frontend/pack_run.h"
#include "metadata/meta_issue.h"
#include "platform/staged_output.h"

namespace varn {

// CUE import and album merge, whatever the mode.
StageResult stage_cue_import(PackRun& run);
// DSD Disc build when --dsd-disc is set; ends the run.
StageResult stage_dsd_disc(PackRun& run);
// --verify: ends the run.
StageResult stage_verify(PackRun& run);
// Per track, CUE title and performer. `title_from_tag` says
// whether the reader supplied the title (one made from the file name does
// not count).
void stage_cue_track_text(PackRun& run, InputTrack& track, size_t p, bool title_from_tag);
// Per track, CUE ISRC.
void stage_cue_track_isrc(PackRun& run, InputTrack& track, size_t p);
// Per track, DST prediction order (kept with the track) and the stereo
// note.
void stage_dst_order(PackRun& run, InputTrack& track);
// Per track, DST coding of a plain track whose area is to be coded; a
// track that cannot be coded ends the run. `path` names the track's file.
StageResult stage_dst_encode(PackRun& run, InputTrack& track, const std::string& path);
// Inspection dump when -o names a directory; ends the run.
StageResult stage_toc_dump(PackRun& run);
// Prints each issue on its stream with its mark, then the summary line.
void print_meta_issues(const std::vector<MetaIssue>& issues);
// Metadata pre-flight; may end the run.
StageResult stage_preflight(PackRun& run);
// Before the inputs are read: none of the outputs of the image
// `image` (the image, its manifest, its CUE sheet) may be one of the inputs.
StageResult stage_check_outputs(const PackRun& run, const std::string& image);
// Image build, CUE export and capacity report.
StageResult stage_build_image(PackRun& run);
// After a successful build: stages the CUE sheet beside the
// image into the run's outputs; `report` receives its line for after the
// commit. False after printing why.
bool stage_cue_export(PackRun& run, OutputSet& outputs, std::string& report);

}  // namespace varn

namespace varn {
// Plans both areas from the run's area lists, then the fixed positions, and
// prints the plan. A job the Area TOCs cannot describe is refused here
// (message printed, exit 1).
StageResult stage_plan_layout(PackRun& run);

// Checks of what the disc structures can hold for this run; the issues are
// appended to the pre-flight's own.
std::vector<MetaIssue> preflight_layout_checks(const PackRun& run);
}  // namespace varn
