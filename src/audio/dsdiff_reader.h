#pragma once

#include <string>

#include "audio/input_track.h"
#include "platform/error.h"

namespace varn {

// Reads a DSDIFF file into a freshly initialised track (album and artist may be
// preset from the command line). Reports its summary line on success and its
// warnings as they arise; the error when the file cannot be used.
// With `leave_audio_in_file` plain audio stays in the file, described by
// the track's source (DST frames are always read).
Status read_dsdiff(const std::string& path, InputTrack& track, bool leave_audio_in_file = false);

}  // namespace varn
