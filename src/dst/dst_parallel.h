// DST coding of a whole track: the frames are spread over worker threads,
// each with its own encoder state, and joined back in frame order.
#pragma once

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "dst/dst_frame.h"
#include "platform/error.h"

namespace varn {

// What the workers of one batch share: the frames, the next frame not yet
// taken, and a slot per frame for its result.
struct DstWorkerJob {
  const uint8_t* input = nullptr;  // the whole batch, read-only
  uint32_t frames = 0;
  uint32_t frame_bytes = 0;
  int channels = 0;
  int rate_multiple = 0;
  int base_rate = 0;
  int order = 0;
  std::atomic<uint32_t> next{0};
  std::vector<DstFrame> result;  // one per frame, empty until coded
};

// The plain DSD of frames [first, first + frames) of a track, whole frames
// of `frame_bytes` bytes; null when it cannot be had.
using DstFrameSource = std::function<const uint8_t*(uint32_t first, uint32_t frames, uint32_t frame_bytes)>;
// Takes the coded frames in frame order (it may move a frame's bytes
// away); false stops the coding.
using DstFrameSink = std::function<bool(DstFrame& frame)>;
// Codes a track of `size` bytes of plain DSD read through `source` at most
// `chunk_bytes` of plain audio at a time (at least one frame), each frame
// handed to `sink` as soon as its part is coded, so that memory is bounded
// by the part. One frame per whole SACD frame in the data (a frame the
// coder cannot take is stored plain, with a warning), then the "frames
// encoded" note; or the error that left the track uncoded: refused
// parameters, a part that cannot be read, a worker that could not start.
// A stop, or a frame the sink refused (the sink tells why), gives an error
// without text. `threads` 0 means one per hardware thread. The frames done
// count as encoding progress.
Status dst_encode_track_from(const DstFrameSource& source, uint64_t size, int channels, int rate_multiple,
                             int base_rate, int order, int threads, uint64_t chunk_bytes, const DstFrameSink& sink);
// The same over a track held whole in memory; an empty list on any failure.
std::vector<DstFrame> dst_encode_track(const uint8_t* audio, size_t size, int channels,
                                       int rate_multiple, int base_rate, int order, int threads);

// One part of a track, its frames spread over the workers.
Result<std::vector<DstFrame>> dst_encode_parallel(const uint8_t* audio, uint32_t frames, uint32_t frame_bytes,
                                                  int channels, int rate_multiple, int base_rate, int threads,
                                                  int order);

// Body of a worker thread: takes a few frames at a time until none are
// left, so that a worker slowed by other load leaves no tail to wait for.
void dst_worker(DstWorkerJob& job);

struct DstDecoder;

// Appends a coded frame to `out` after decoding it back: a frame that does
// not decode to `input` is reported and stored plain instead. `scratch`
// holds at least frame_bytes bytes.
void dst_append_checked(DstDecoder& decoder, const uint8_t* coded, size_t coded_bytes,
                        const uint8_t* input, size_t frame_bytes, uint32_t index,
                        std::vector<DstFrame>& out, uint8_t* scratch);

}  // namespace varn
