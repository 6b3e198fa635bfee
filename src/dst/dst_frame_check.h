// Acceptance of DST frames taken from a file: every frame must decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dst/dst_frame.h"

namespace varn {

// The first frame that fails, if any.
struct DstFrameFault {
  size_t index = 0;   // 0-based frame number
  std::string error;  // why it fails
};

// Checks frames of `channels` channels with `bytes_per_channel` plain bytes
// per channel each: a frame must not be empty, must not be larger than its
// plain form (one header byte and the plain bytes: the coder never writes a
// coded frame longer than that), must decode, and its coded data must end
// where the frame ends. Frames are spread over
// `threads` workers (0: one per hardware thread). Returns true when every
// frame passes, else false with the earliest failing frame in `fault`.
bool dst_check_frames(const std::vector<DstFrame>& frames, int channels, size_t bytes_per_channel,
                      unsigned threads, DstFrameFault& fault);

}  // namespace varn
