#include "platform/report_lines.h"

#include <cstdarg>
#include <cstdio>

namespace varn {

void add_line(ReportLines& lines, ReportStream stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (n >= 0) {
    std::string text(size_t(n) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(size_t(n));
    lines.push_back({stream, std::move(text)});
  }
  va_end(again);
}

void report_lines(const ReportLines& lines) {
  for (const ReportLine& l : lines) {
    if (l.stream == ReportStream::Out)
      report_note("%s", l.text.c_str());
    else
      report_error("%s", l.text.c_str());
  }
}

}  // namespace varn
