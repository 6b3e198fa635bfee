// A planned UDF 1.02 volume and the bytes of its structures: descriptor
// sequences at 32..65, anchors, and the metadata (File Set Descriptor,
// directories, File Entries) at the tail of the partition behind the file
// data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fs/extent_map.h"
#include "fs/udf.h"
#include "fs/udf_descriptors.h"
#include "fs/udf_tree.h"
#include "platform/report_lines.h"

namespace varn {

constexpr uint32_t kUdfFirstAnchorLsn = 256;
// An anchor fills the first 512 bytes of its sector.
constexpr uint32_t kUdfAnchorBytes = 512;

struct UdfVolume {
  std::vector<UdfFileEntry> files;
  std::vector<UdfDirectory> dirs;
  std::vector<uint32_t> file_block;    // partition block of each file's File Entry
  UdfVolumeFacts facts;
  uint32_t blocks = 0;                 // sectors of the whole volume
  uint32_t meta = 0;                   // partition blocks kept for the metadata
  uint64_t data_end = 0;               // partition block after the last file data
  uint32_t cleared = 0;                // zeroed blocks at the partition front
  std::vector<uint32_t> anchors;       // sectors of the anchors
};

// Plans the volume over `block_count` sectors whose file data lies at the
// entries' sectors; the volume grows when the metadata needs room
// behind the data. Its notes go to `lines`; false, with why in `lines`,
// when the files cannot be recorded.
bool plan_udf_volume(const std::vector<UdfFileEntry>& files, uint32_t partition_start,
                     uint32_t block_count, const std::string& volume_name, UdfVolume& volume,
                     ReportLines& lines);

// Every sector the volume writes, as runs (the zeroed partition front
// included), in ascending order.
std::vector<SectorRun> udf_volume_runs(const UdfVolume& volume);

}  // namespace varn
