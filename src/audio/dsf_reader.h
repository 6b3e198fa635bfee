#pragma once

#include <string>

#include "audio/input_track.h"
#include "platform/error.h"

namespace varn {

// Reads a DSF file into a freshly initialised track (album and artist may be
// preset from the command line). Reports its summary line on success and
// its warnings as they arise; the error when the file cannot be used. With
// `leave_audio_in_file` the audio stays in the file, described by the
// track's source, and is read when it is written.
Status read_dsf(const std::string& path, InputTrack& track, bool leave_audio_in_file = false);

// The checks of read_dsf without reading the audio: the file is a DSF file
// whose header matches its data and whose tag is whole: the error read_dsf
// would give.
Status check_dsf_file(const std::string& path);

}  // namespace varn
