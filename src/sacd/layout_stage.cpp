#include <cstdio>

#include "frontend/stages.h"
#include "sacd/area_toc.h"
#include "sacd/layout.h"
#include "sacd/text_encoding.h"

namespace varn {

// Plans both areas and the fixed positions, after refusing any area one
// Area TOC cannot describe; prints the plan.
StageResult stage_plan_layout(PackRun& run) {
  for (int pass = 0; pass < 2; ++pass) {
    const bool mch = pass == 1;
    const std::string why = area_refusal(run.tracks, mch ? run.multi_list : run.stereo_list,
                                         run.track_paths, run.job, mch);
    if (!why.empty()) {
      std::fprintf(stderr, "%s", why.c_str());
      return 1;
    }
  }
  run.stereo = plan_area(run.tracks, run.stereo_list);
  run.multi = plan_area(run.tracks, run.multi_list);

  // The Area TOC blocks grow with their track text, which depends on the
  // disc's character set.
  const uint8_t charset = choose_charset(disc_charset_texts(run.job.album, run.job.artist, run.tracks));
  uint32_t reserved[2] = {0, 0};
  for (int pass = 0; pass < 2; ++pass) {
    const bool mch = pass == 1;
    const std::vector<size_t> area = area_track_positions(run.tracks, mch);
    if (area.empty()) continue;
    const AreaTocShape shape = area_toc_shape(run.tracks, area, run.job.track_isrcs, charset);
    if (shape.text_sectors > kMaxTrackTextSectors) {
      std::fprintf(stderr,
                   "Error: the track titles and artists of the %s area need %u text sectors, but an "
                   "Area TOC holds at most %u -- shorten the track texts\n",
                   mch ? "multichannel" : "2ch (stereo)", shape.text_sectors, kMaxTrackTextSectors);
      return 1;
    }
    reserved[pass] = shape.reserved;
  }

  DiscLayout& layout = run.layout;
  layout.tracks = &run.tracks;
  layout.stereo = run.stereo;
  layout.multi = run.multi;
  copy_album_fields(run.job, layout);
  place_fixed_positions(layout, reserved[0], reserved[1]);
  const std::string plan = layout_plan_text(layout);
  std::fwrite(plan.data(), 1, plan.size(), stdout);
  return std::nullopt;
}

}  // namespace varn
