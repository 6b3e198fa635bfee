#pragma once

#include "frontend/pack_run.h"

namespace varn {

// Asks on the terminal for the album, the artist and missing track titles
// when some track lacks one of them. Reads answers from standard input.
void complete_metadata_interactively(PackRun& run);

}  // namespace varn
