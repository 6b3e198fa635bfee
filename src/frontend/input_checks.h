// Checks on what the command line asks for, made before any input is read
// or anything is written: every named input and side file must be usable,
// and every track number must name an input.
#pragma once

#include "frontend/pack_run.h"

namespace varn {

// The N of every N:TEXT and N:CODE option (and the position of every entry
// given without one) must name one of the inputs. Exit 1 after the message.
StageResult check_track_numbers(const PackJob& job);

// Warns about every input file named more than once (the same file through
// any name or link): it would make two tracks.
void warn_repeated_inputs(const PackJob& job);

// --cover must name a usable picture. Exit 1 after the message.
StageResult check_cover_option(const PackJob& job);

// Every input must have a known extension and be a readable regular file;
// all faults are listed before the run ends with 1.
StageResult check_input_files(const PackJob& job);

// A picture from the first track's tags that is neither JPEG nor PNG is not
// taken as the cover (a note says so).
void drop_unusable_picture(PackRun& run);

}  // namespace varn
