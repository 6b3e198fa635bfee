#pragma once

#include <cstdio>
#include <string>

namespace varn {

// Opens a file named by a UTF-8 byte string. Every input file and the
// image are opened through it.
FILE* open_input_file(const std::string& path, const char* mode);

}  // namespace varn
