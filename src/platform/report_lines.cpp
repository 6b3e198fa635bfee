#include "platform/report_lines.h"

#include <cstdarg>

#include "platform/text_format.h"

namespace varn {

void add_line(ReportLines& lines, ReportStream stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text;
  if (append_vformat(text, format, args)) lines.push_back({stream, std::move(text)});
  va_end(args);
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
