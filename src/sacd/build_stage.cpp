#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "frontend/stages.h"
#include "manifest/manifest.h"
#include "metadata/cue_export.h"
#include "platform/staged_output.h"
#include "sacd/capacity_report.h"
#include "sacd/image_builder.h"
#include "sacd/layout.h"

namespace varn {

// No output may land on a file the run reads, under whatever name or link.
StageResult stage_check_outputs(const PackRun& run, const std::string& image) {
  std::vector<std::pair<const char*, std::string>> outputs = {{"image", image},
                                                              {"CUE sheet", cue_path_for_image(image)}};
  if (!run.job.no_manifest) outputs.emplace_back("delivery manifest", manifest_path_for(image));
  std::vector<std::string> inputs = run.job.inputs;
  inputs.push_back(run.job.cue_path);
  inputs.push_back(run.job.cover_path);
  for (const auto& [what, path] : outputs) {
    for (const std::string& input : inputs) {
      if (!same_file(path, input)) continue;
      std::fprintf(stderr, "Error: the %s %s would overwrite the input file %s\n", what, path.c_str(), input.c_str());
      return 1;
    }
  }
  return std::nullopt;
}

StageResult stage_build_image(PackRun& run) {
  try {
    DiscLayout& layout = run.layout;
    layout.tracks = &run.tracks;
    layout.stereo = run.stereo;
    layout.multi = run.multi;
    copy_album_fields(run.job, layout);
    // Checked again: the inputs were read in the meantime.
    if (auto r = stage_check_outputs(run, layout.output_path)) return r;
    // The image, its manifest and the CUE sheet replace the earlier ones
    // together, and only once all of them are complete.
    OutputSet outputs;
    std::string image_report, cue_report;
    if (!build_sacd_image(layout, outputs, image_report)) return 1;
    if (!stage_cue_export(run, outputs, cue_report) || !commit_outputs(outputs)) {
      std::fprintf(stderr, "  (nothing was replaced: %s is as it was)\n", layout.output_path.c_str());
      return 1;
    }
    std::fputs(image_report.c_str(), stdout);
    std::fputs(cue_report.c_str(), stdout);
    print_capacity_report(layout.output_path);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Error: %s\n", e.what());
    return 1;
  }
  return std::nullopt;
}

}  // namespace varn
