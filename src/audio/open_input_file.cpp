#include "audio/open_input_file.h"

#include "platform/platform.h"

namespace varn {

FILE* open_input_file(const std::string& path, const char* mode) {
  // UTF-8 names are native here; there is no second code page to try.
  return platform_fopen(path, mode);
}

}  // namespace varn
