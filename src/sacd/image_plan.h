// The whole SACD image planned before a byte is written: every structure of
// the ISO 9660 and UDF volumes, the Master TOC area, the Area TOC blocks,
// both audio areas with their run-out and the embedded files, each on its
// own sectors in one extent map. Nothing shares a sector, so the image is
// written front to back, every sector once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fs/extent_map.h"
#include "fs/iso9660_volume.h"
#include "fs/udf_volume.h"
#include "platform/platform.h"
#include "platform/report_lines.h"
#include "sacd/area_toc.h"
#include "sacd/disc_layout.h"
#include "sacd/image_files.h"

namespace varn {

// What fills an extent of the image plan.
enum ImagePart : uint32_t {
  kPartStructure = 0,  // the bytes of structures[index]
  kPartAreaAudio = 1,  // the audio sectors of the stereo (index 0) or multichannel (1) area
  kPartRunOut = 2,     // run-out sectors
};

// One track of an audio area where the image holds it.
struct PlannedTrack {
  size_t input = 0;      // position in the track list
  uint32_t lsn = 0;      // first sector of its own audio
  uint32_t sectors = 0;  // its own audio, the pause before it excluded
  uint32_t frames = 0;
};

// One audio area with its Area TOC block.
struct PlannedArea {
  bool multichannel = false;
  uint32_t toc_lsn = 0;
  uint32_t toc_sectors = 0;  // sectors the block keeps
  AreaTocShape shape;        // where the block's parts lie
  uint32_t start_lsn = 0;    // first audio sector
  uint32_t total_sectors = 0;
  std::vector<PlannedTrack> tracks;
};

struct ImagePlan {
  ExtentMap map;
  std::vector<PlannedArea> areas;     // the areas that exist, the stereo area first
  std::vector<SectorRun> structures;  // bytes of every kPartStructure extent
  IsoVolume iso;                      // files with their final sectors
  UdfVolume udf;
  uint32_t total_sectors = 0;         // the image's size and the recorded volume size
  ReportLines placement_notes;        // where the embedded files went
  ReportLines volume_notes;           // the volumes' notes, shown once the image is written
};

// Plans the SACD part of the image: the Master TOC area, the Area TOC
// blocks with texts in `charset`, the audio areas and their run-out, dated
// by `clock`. False when it cannot be made; why is then the last of
// `plan.placement_notes`.
bool plan_sacd_structures(const DiscLayout& layout, uint8_t charset, const CivilTime& clock, ImagePlan& plan);

// The structure of the plan whose extent starts at `lsn`, or null.
const SectorRun* planned_structure(const ImagePlan& plan, uint32_t lsn);

// Plans the image of `layout` holding `files` (from sacd_image_files) with
// the texts in `charset`. False when it cannot be made; why is then the
// last of `plan.placement_notes`.
bool plan_sacd_image(const DiscLayout& layout, const std::vector<IsoFileEntry>& files,
                     const SacdPlacement& placement, uint8_t charset, ImagePlan& plan);

// Adds the audio areas and their run-out to the plan's map; false when
// they overlap something already in it.
bool plan_audio_extents(const DiscLayout& layout, ImagePlan& plan);

}  // namespace varn
