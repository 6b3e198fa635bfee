// The console of a run. Library reports are written as they come; on a
// terminal the long steps also show one progress line on standard error,
// which is cleared before any other text so that nothing interleaves.
// When standard error is not a terminal, nothing is added to the output.
// Once a stop has been asked for, the reports of the work it cut short are
// dropped: the run says once that it was interrupted.
#pragma once

namespace varn {

// Takes over the library's report and progress sinks for a run.
void console_open();

// Clears the progress line and gives the sinks back.
void console_close();

}  // namespace varn
