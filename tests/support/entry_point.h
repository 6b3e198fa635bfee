// The console program's entry point run in this process (as a host that
// loads the library runs it), with both standard streams captured.
#pragma once

#include <string>
#include <vector>

#include "frontend/driver.h"
#include "support/capture.h"
#include "support/test_support.h"

namespace testsupport {

// `args` begins with the program name.
inline RunResult run_entry(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  RunResult r;
  const Streams s = capture([&] { r.exit_code = varn::run_entry_point(int(argv.size()), argv.data()); });
  r.out = s.out;
  r.err = s.err;
  return r;
}

}  // namespace testsupport
