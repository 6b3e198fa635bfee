#include "platform/report.h"

#include "platform/error.h"
#include "platform/text_format.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string>

namespace varn {

namespace {

std::atomic<ReportSink> g_sink{nullptr};

// The formatted text; nullopt when the format itself is broken.
std::optional<std::string> format_text(const char* format, va_list args) {
  std::string text;
  if (!append_vformat(text, format, args)) return std::nullopt;
  return text;
}

void write_text(ReportStream stream, const std::string& text) {
  if (ReportSink sink = g_sink.load()) {
    sink(stream, text);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stream == ReportStream::Out ? stdout : stderr);
}

void report(ReportStream stream, const char* format, va_list args) {
  if (auto text = format_text(format, args)) write_text(stream, *text);
}

}  // namespace

Error make_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  auto text = format_text(format, args);
  va_end(args);
  return Error{text ? std::move(*text) : std::string(), ReportStream::Err};
}

void report(const Error& error) { write_text(error.stream, error.text); }

void set_report_sink(ReportSink sink) { g_sink.store(sink); }

void report_note(const char* format, ...) {
  va_list args;
  va_start(args, format);
  report(ReportStream::Out, format, args);
  va_end(args);
}

void report_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  report(ReportStream::Err, format, args);
  va_end(args);
}

}  // namespace varn
