#include "platform/text_format.h"

#include <cstdio>

namespace varn {

bool append_vformat(std::string& out, const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  // Most texts fit the small buffer and are formatted once.
  char small[512];
  const int n = std::vsnprintf(small, sizeof small, format, args);
  if (n >= 0 && size_t(n) < sizeof small) {
    out.append(small, size_t(n));
  } else if (n >= 0) {
    const size_t at = out.size();
    out.resize(at + size_t(n) + 1);
    std::vsnprintf(out.data() + at, size_t(n) + 1, format, again);
    out.resize(at + size_t(n));
  }
  va_end(again);
  return n >= 0;
}

bool append_format(std::string& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool ok = append_vformat(out, format, args);
  va_end(args);
  return ok;
}

}  // namespace varn
