// Helpers of the DST tests: test signals and single-frame encoding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dsdgen/dsdgen.h"
#include "dst/dst_decoder.h"
#include "dst/dst_encoder.h"
#include "support/test_support.h"

namespace dsttest {

inline size_t bytes_per_channel(uint32_t sample_rate) {
  const uint32_t base = sample_rate % 44100 == 0 ? 44100 : 48000;
  return static_cast<size_t>(base / 75) * (sample_rate / base) / 8;
}

// `frames` SACD frames of a dsdgen signal.
inline std::vector<uint8_t> signal(dsdgen::SignalKind kind, int channels, uint32_t sample_rate,
                                   size_t frames, uint64_t seed = 1) {
  dsdgen::SignalOptions o;
  o.kind = kind;
  o.channels = static_cast<uint32_t>(channels);
  o.sample_rate = sample_rate;
  o.samples = bytes_per_channel(sample_rate) * 8 * frames;
  o.seed = seed;
  return dsdgen::generate(o);
}

using testsupport::random_bytes;

// Encodes one frame with the calling thread's encoder (Init done by the
// caller) at sharing n; returns the frame's bytes.
inline std::vector<uint8_t> encode_one(const uint8_t* frame, size_t frame_bytes, int n) {
  varn::dst_set_sharing(n, -1, -1);
  std::vector<uint8_t> out(2 * frame_bytes + 64);
  uint32_t bits = 0;
  if (varn::dst_encode_frame(frame, out.data(), bits) != 0) return {};
  out.resize(bits / 8);
  return out;
}

// Decodes one frame with a fresh decoder; empty on failure.
inline std::vector<uint8_t> decode_one(const std::vector<uint8_t>& frame, int channels, size_t bc,
                                       std::string* error = nullptr) {
  varn::DstDecoder d;
  if (!varn::dst_decoder_init(d, channels, bc)) return {};
  std::vector<uint8_t> out(bc * static_cast<size_t>(channels));
  if (!varn::dst_decode_frame(d, frame.data(), frame.size(), out.data())) {
    if (error) *error = d.error;
    return {};
  }
  return out;
}

// MSB-first field reader over a frame.
struct Fields {
  const std::vector<uint8_t>& f;
  size_t pos = 0;
  uint32_t get(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++pos) v = (v << 1) | ((f[pos / 8] >> (7 - pos % 8)) & 1u);
    return v;
  }
};

}  // namespace dsttest
