// The directory tree and the block plan of the UDF volume.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fs/sector_io.h"
#include "fs/udf.h"
#include "platform/error.h"

namespace varn {

struct UdfDirectory {
  std::string full_path;              // empty for the root
  std::string name;
  size_t parent = 0;                  // the root is its own parent
  std::vector<size_t> children;       // subdirectories in list order
  std::vector<size_t> files;          // file entries (not directory entries)
  uint32_t data_size = 0;             // bytes of File Identifier Descriptors
  uint32_t data_block = 0;            // partition block of the data
  uint32_t entry_block = 0;           // partition block of the File Entry
};

inline uint32_t udf_blocks_of(uint64_t bytes) {
  return uint32_t(sectors_of(bytes));
}

// Directory blocks: an empty directory still takes one block.
inline uint32_t udf_directory_blocks(const UdfDirectory& d) {
  uint32_t b = udf_blocks_of(d.data_size);
  return b == 0 ? 1 : b;
}

// Root first, then every directory named by a prefix of some dir_path, in
// the order first met. The error says which name does not fit a File
// Identifier Descriptor, or which directory is too large.
Status build_udf_tree(const std::vector<UdfFileEntry>& files, std::vector<UdfDirectory>& dirs);

}  // namespace varn
