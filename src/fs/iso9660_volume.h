// A planned ISO 9660 volume and the bytes of its structures: the planning
// decides every sector, the serialisers only turn the plan into bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fs/extent_map.h"
#include "fs/iso9660.h"
#include "fs/iso9660_tree.h"
#include "platform/platform.h"
#include "platform/report_lines.h"

namespace varn {

// Sectors of the volume structures that do not move.
constexpr uint32_t kIsoPrimaryDescriptorLsn = 16;
constexpr uint32_t kIsoTerminatorLsn = 17;
constexpr uint32_t kIsoRecognitionLsn = 18;  // BEA01, NSR02, TEA01
// The volume is never smaller than the sectors up to here.
constexpr uint32_t kIsoMinimumBlocks = 510;

// The files with their sectors (embedded files placed, or dropped when they
// fit nowhere), the directory tree and the recorded volume size.
struct IsoVolume {
  std::vector<IsoFileEntry> files;
  std::vector<IsoDirectory> dirs;
  uint32_t volume_blocks = kIsoMinimumBlocks;
  std::string label;
  CivilTime time{};
};

// Places the embedded files and lays out the directories; the placement's
// notes go to `lines`. False, with why in `lines`, when the tree does not
// fit the layout.
bool plan_iso9660_volume(std::vector<IsoFileEntry> files, uint32_t block_count, const std::string& label,
                         const EmbedWindow& window, IsoVolume& volume, ReportLines& lines);

// The bytes of each structure, whole sectors.
std::vector<uint8_t> iso_primary_descriptor(const IsoVolume& volume);
std::vector<uint8_t> iso_terminator();
std::vector<uint8_t> iso_path_table(const IsoVolume& volume, bool big_endian);
std::vector<uint8_t> iso_directory(const IsoVolume& volume, size_t which);
// An embedded file's bytes padded to whole sectors.
std::vector<uint8_t> padded_to_sectors(const std::vector<uint8_t>& bytes);

// Every structure of the volume with its sectors: the primary descriptor
// (first), the terminator, the UDF recognition sequence, both path tables,
// the directories and the embedded files.
std::vector<SectorRun> iso_volume_runs(const IsoVolume& volume);

}  // namespace varn
