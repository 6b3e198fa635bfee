// Helpers of the metadata tests: capturing both standard streams.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace metatest {

struct Streams {
  std::string out, err;
};

template <typename F>
Streams capture(F f) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  f();
  Streams s;
  s.out = testing::internal::GetCapturedStdout();
  s.err = testing::internal::GetCapturedStderr();
  return s;
}

inline bool contains(const std::string& hay, const std::string& needle) {
  return hay.find(needle) != std::string::npos;
}

}  // namespace metatest
