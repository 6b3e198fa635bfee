#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varn {

// One file (or directory) of the UDF volume; its data already lies in the
// image at `lsn`.
struct UdfFileEntry {
  std::string name;
  std::string dir_path;
  uint32_t lsn = 0;
  uint64_t size = 0;
  bool is_directory = false;
};

}  // namespace varn

namespace varn {

// Writes the UDF 1.02 volume over an existing image (descriptors at 32..65,
// anchors, metadata at the partition tail; the image may be extended).
// Returns false, after printing why, when it cannot.
bool write_udf_volume(const std::string& image_path, const std::vector<UdfFileEntry>& files,
                      uint32_t partition_start, uint32_t block_count,
                      const std::string& volume_name);

// BEA01, NSR02, TEA01 at first_sector .. +2 and zero sectors up to +13.
bool write_udf_recognition(const std::string& image_path, uint32_t first_sector);

}  // namespace varn
