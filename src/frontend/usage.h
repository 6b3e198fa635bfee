#pragma once

#include <string>

namespace varn {

// The usage text for a program name, as --help prints it, made from the
// option table.
std::string usage_text(const std::string& program_name);

}  // namespace varn
