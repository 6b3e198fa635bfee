#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varn {

// One file (or directory) of the UDF volume; its data lies in the image at
// `lsn`.
struct UdfFileEntry {
  std::string name;
  std::string dir_path;
  uint32_t lsn = 0;
  uint64_t size = 0;
  bool is_directory = false;
};

}  // namespace varn
