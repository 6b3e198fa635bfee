// printf-style formatting into standard strings, whatever the length.
#pragma once

#include <cstdarg>
#include <string>

namespace varn {

// Appends the formatted text to `out`; false, with `out` as it was, when
// the format itself is broken.
bool append_vformat(std::string& out, const char* format, va_list args);
[[gnu::format(printf, 2, 3)]] bool append_format(std::string& out, const char* format, ...);

}  // namespace varn
