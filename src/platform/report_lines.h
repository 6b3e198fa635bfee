// Texts a planning step wants shown, kept in order until the caller shows
// them: planning decides before anything is written, but its notes belong
// where the user expects them in the console output.
#pragma once

#include <string>
#include <vector>

#include "platform/report.h"

namespace varn {

struct ReportLine {
  ReportStream stream = ReportStream::Out;
  std::string text;
};
using ReportLines = std::vector<ReportLine>;

// Appends one formatted text (printf format).
[[gnu::format(printf, 3, 4)]] void add_line(ReportLines& lines, ReportStream stream, const char* format, ...);

// Shows the texts through the reporter, in order.
void report_lines(const ReportLines& lines);

}  // namespace varn
