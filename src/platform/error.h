// A failure a library call hands back instead of printing: the text is the
// whole message exactly as the user will read it, line ends included, so the
// caller decides whether, where and when it is shown.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "platform/report.h"

namespace varn {

// An error without text is a stop the user asked for, or a failure that a
// part still printing its own messages has already shown.
struct Error {
  std::string text;
  ReportStream stream = ReportStream::Err;
};

// An error for standard error from a printf format.
[[gnu::format(printf, 1, 2)]] Error make_error(const char* format, ...);

// Shows the error through the reporter, on its own stream.
void report(const Error& error);

// Success, or the error that stopped the call.
using Status = std::optional<Error>;

// A value, or the error that prevented it (`value` is then left default).
template <typename T>
struct Result {
  T value{};
  std::optional<Error> error;

  Result(T v) : value(std::move(v)) {}
  Result(Error e) : error(std::move(e)) {}

  bool ok() const { return !error; }
};

}  // namespace varn
