// Runs a function with both standard streams captured, for the suites that
// call the library directly and look at what it printed.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

struct Streams {
  std::string out, err;
};

template <typename F>
Streams capture(F f) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  f();
  Streams s;
  s.err = testing::internal::GetCapturedStderr();
  s.out = testing::internal::GetCapturedStdout();
  return s;
}

inline bool contains(const std::string& hay, const std::string& needle) {
  return hay.find(needle) != std::string::npos;
}

}  // namespace testsupport
