#pragma once

namespace varn {

// The body of varn_tessel_main: host pre-pass, parsing, the packing driver.
// Never lets an exception escape.
int run_entry_point(int argc, char** argv);

}  // namespace varn
