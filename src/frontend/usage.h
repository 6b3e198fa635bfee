#pragma once

#include <string>

namespace varn {

// The usage text for a program name, as --help prints it; also the source of
// the --api option schema.
std::string usage_text(const std::string& program_name);

}  // namespace varn
