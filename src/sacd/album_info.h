#pragma once

#include <functional>
#include <string>

#include "sacd/disc_layout.h"

namespace varn {

// The album information file SRM0.LST: key=value lines, values passed
// through `encode` (the disc text encoder), each line cut at 255 bytes.
std::string album_info_text(const DiscLayout& layout,
                            const std::function<std::string(const std::string&)>& encode);

}  // namespace varn
