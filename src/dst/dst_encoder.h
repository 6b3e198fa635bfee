// DST frame encoder: turns one SACD frame of plain DSD into one DST frame.
// Each encoding thread owns its own working state: Init once, then any
// number of (dst_set_sharing, dst_encode_frame) pairs, then
// dst_encoder_close.
#pragma once

#include <cstdint>

#include "dst/dst_coded_symbols.h"

namespace varn {

// Largest number of bytes per channel in one frame (256 x 48000 Hz).
constexpr int DSDFRAMESIZE = 20480;

// Sets up the calling thread's state: `channels` 1..64, `rate_multiple` 64,
// 128 or 256, `base_rate` 44100 or 48000, `prediction_order` clamped to
// 1..128. One filter and one probability table per channel. Refuses
// silently other channel counts and rate multiples (and a base rate that
// gives no frame or one above DSDFRAMESIZE bytes per channel); prints
// "Init: malloc failed" when the state cannot be allocated.
bool Init(int channels, int rate_multiple, int base_rate, int prediction_order);

// N filters and tables shared by the channels: channel c uses number c mod N.
// An order or table length of 1 or more replaces every filter's order or
// every table's length; a value below 1 keeps them.
void dst_set_sharing(int n, int order, int table_length);

// Encodes one frame of channels x bytes-per-channel input bytes into `out`
// (at least that size plus 64 bytes: a kept frame is never longer than the
// plain one, one byte more). Returns 0 on success with the frame's length in
// bits (a multiple of 8) in `bits`.
int dst_encode_frame(const uint8_t* frame, uint8_t* out, uint32_t& bits);

// Encodes one frame at every sharing count N = channels, channels - 1, ...,
// 1 and writes the shortest result (on equal length the larger N) to `out`,
// as dst_encode_frame would at that count. The sharing set by
// dst_set_sharing is left as it was. With `symbols`, what the decode check
// can use of the kept frame goes there too (nothing for a plain frame); it
// points into the thread's state and holds until its next encoder call.
int dst_encode_best(const uint8_t* frame, uint8_t* out, uint32_t& bits, DstCodedSymbols* symbols = nullptr);

// dst_encode_best on `count` frames: frame i into outs[i], its length into
// bits[i] and, with `symbols`, what the check can use of it into
// symbols[i]. The frames are the same as one at a time; up to
// dst_frames_together() frames are coded side by side, which is faster, and
// the symbols of those coded last hold until the next encoder call (earlier
// frames' are marked gone).
int dst_encode_best_frames(const uint8_t* const* frames, int count, uint8_t* const* outs, uint32_t* bits,
                           DstCodedSymbols* symbols = nullptr);

// Frames the calling thread's encoder codes side by side: two with one or
// two channels, else one.
int dst_frames_together();

// Releases the calling thread's state.
void dst_encoder_close();

// Process-wide SIMD switch (on at start).
void set_simd_enabled(bool on);
bool simd_enabled();

// Processor capability level: 0, 10 (SSE2), 20 (SSE4.1), 30 (AVX), 40
// (AVX2), 50 (AVX-512F/CD). Computed once.
int simd_level();

// Name of the filter kernel in use, as printed in the encode SIMD note.
const char* simd_name();

}  // namespace varn
