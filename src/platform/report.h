// Lines the library shows the user: notes and progress for standard
// output, warnings and errors for standard error. The front end decides
// where they go; until it does, they are written to the process's own
// standard streams exactly as formatted.
#pragma once

#include <string>

namespace varn {

enum class ReportStream { Out, Err };

// Receives every reported text, one formatted write at a time.
using ReportSink = void (*)(ReportStream stream, const std::string& text);

// Routes the reports to `sink`; nullptr restores the standard streams.
void set_report_sink(ReportSink sink);

// A note or progress line (printf format).
[[gnu::format(printf, 1, 2)]] void report_note(const char* format, ...);
// A warning or an error (printf format).
[[gnu::format(printf, 1, 2)]] void report_error(const char* format, ...);

}  // namespace varn
