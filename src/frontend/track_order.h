#pragma once

#include "frontend/pack_run.h"

namespace varn {

// Sorts the tracks by track number when every track has one (stable, at
// least two tracks). The per-track maps keyed by reading position are
// re-keyed to the new positions so that each entry stays with its track.
void sort_by_track_number(PackRun& run);

// Writes the first track's embedded picture beside the image (or into a
// temporary file) when no --cover was given, and takes it as the cover.
void extract_cover(PackRun& run);

}  // namespace varn
