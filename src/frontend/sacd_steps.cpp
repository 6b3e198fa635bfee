// The SACD image of a run: its layout planned and printed, the inspection
// dump, the check that no output is an input, and the build with the CUE
// export and the capacity report.
#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "frontend/stages.h"
#include "manifest/manifest.h"
#include "metadata/cue_export.h"
#include "platform/report.h"
#include "platform/staged_output.h"
#include "sacd/capacity_report.h"
#include "sacd/image_builder.h"
#include "sacd/layout.h"
#include "sacd/toc_dump.h"

namespace varn {

namespace {

// No output may land on a file the run reads, under whatever name or link.
StageResult refuse_outputs_over_inputs(const PackRun& run,
                                       const std::vector<std::pair<const char*, std::string>>& outputs) {
  std::vector<std::string> inputs = run.job.inputs;
  inputs.push_back(run.job.cue_path);
  inputs.push_back(run.job.album.cover_path);
  for (const auto& [what, path] : outputs) {
    for (const std::string& input : inputs) {
      if (!same_file(path, input)) continue;
      std::fprintf(stderr, "Error: the %s %s would overwrite the input file %s\n", what, path.c_str(), input.c_str());
      return 1;
    }
  }
  return std::nullopt;
}

// The layout reads the run's tracks, area plans and album where they are.
void point_layout_at_run(PackRun& run) {
  DiscLayout& layout = run.layout;
  layout.output_path = run.job.output_path;
  layout.tracks = &run.tracks;
  layout.album = &run.job.album;
  layout.no_manifest = run.job.no_manifest;
}

}  // namespace

// Plans both areas and the fixed positions, after refusing any area one
// Area TOC cannot describe; prints the plan.
StageResult stage_plan_layout(PackRun& run) {
  for (int pass = 0; pass < 2; ++pass) {
    const bool mch = pass == 1;
    const Status why = area_refusal(run.tracks, mch ? run.multi_list : run.stereo_list, run.track_paths,
                                    AreaCoding{run.job.dst_stereo, run.job.no_encode}, mch);
    if (why) {
      report(*why);
      return 1;
    }
  }
  DiscLayout& layout = run.layout;
  point_layout_at_run(run);
  if (const Status why = plan_disc_layout(run.tracks, run.job.album, layout)) {
    report(*why);
    return 1;
  }
  const std::string plan = layout_plan_text(layout);
  std::fwrite(plan.data(), 1, plan.size(), stdout);
  return std::nullopt;
}

// Inspection mode: the planned TOC structures go into the directory named
// by -o instead of an image.
StageResult stage_toc_dump(PackRun& run) {
  if (!run.job.inspect_dir) return std::nullopt;
  std::string dir = run.job.output_path;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  std::printf("\nDumping TOC to '%s/':\n", dir == "/" ? "" : dir.c_str());
  if (run.layout.tracks != &run.tracks) run.layout.tracks = &run.tracks;
  const Result<std::vector<TocDumpFile>> files = toc_dump_files(dir, run.layout);
  if (files.error) {
    report(*files.error);
    return 1;
  }
  std::vector<std::pair<const char*, std::string>> outputs;
  for (const TocDumpFile& f : files.value) outputs.emplace_back("inspection file", f.path);
  if (auto r = refuse_outputs_over_inputs(run, outputs)) return r;
  // A file that cannot be written fails the run, but the others are still
  // written.
  int result = 0;
  for (const TocDumpFile& f : files.value) {
    if (const Status why = write_toc_dump_file(f)) {
      report(*why);
      result = 1;
    } else if (f.sectors) {
      report_note("  ok %s (%zu bytes)\n", f.path.c_str(), f.bytes.size());
    } else {
      report_note("  ok %s\n", f.path.c_str());
    }
  }
  return result;
}

StageResult stage_check_outputs(const PackRun& run, const std::string& image) {
  std::vector<std::pair<const char*, std::string>> outputs = {{"image", image},
                                                              {"CUE sheet", cue_path_for_image(image)}};
  if (!run.job.no_manifest) outputs.emplace_back("delivery manifest", manifest_path_for(image));
  return refuse_outputs_over_inputs(run, outputs);
}

StageResult stage_build_image(PackRun& run) {
  try {
    DiscLayout& layout = run.layout;
    point_layout_at_run(run);
    // Checked again: the inputs were read in the meantime.
    if (auto r = stage_check_outputs(run, layout.output_path)) return r;
    // The image, its manifest and the CUE sheet replace the earlier ones
    // together, and only once all of them are complete.
    OutputSet outputs;
    const Result<BuiltImage> built = build_sacd_image(layout, outputs);
    if (built.error) {
      report(*built.error);
      return 1;
    }
    std::string cue_report;
    if (!stage_cue_export(run, outputs, cue_report) || !commit_outputs(outputs)) {
      std::fprintf(stderr, "  (nothing was replaced: %s is as it was)\n", layout.output_path.c_str());
      return 1;
    }
    std::fputs(built.value.report.c_str(), stdout);
    std::fputs(cue_report.c_str(), stdout);
    std::fputs(capacity_report_text(built.value.image_bytes).c_str(), stdout);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Error: %s\n", e.what());
    return 1;
  }
  return std::nullopt;
}

}  // namespace varn
