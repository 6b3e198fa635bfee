#pragma once

#include <string>

#include "audio/input_track.h"

namespace varn {

// Reads a DSDIFF file into a freshly initialised track (album and artist may be
// preset from the command line). Prints its summary line on success, its
// errors on standard error; false when the file cannot be used.
// With `leave_audio_in_file` plain audio stays in the file, described by
// the track's source (DST frames are always read).
bool read_dsdiff(const std::string& path, InputTrack& track, bool leave_audio_in_file = false);

}  // namespace varn
