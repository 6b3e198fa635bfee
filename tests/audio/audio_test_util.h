// Helpers for the audio reader tests: test signals, captured reader runs,
// the payload a reader must deliver.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/dsdiff_reader.h"
#include "audio/dsf_reader.h"
#include "audio/input_track.h"
#include "dsdgen/dsdgen.h"
#include "dst/dst_parallel.h"
#include "support/capture.h"

namespace audiotest {

// A payload of `bpc` bytes per channel; the modulator runs over at most
// `period` bytes per channel and the rest repeats them (fast long signals).
inline std::vector<uint8_t> signal(uint32_t channels, uint32_t rate, uint64_t samples,
                                   uint64_t seed = 1, uint64_t period = 2048) {
  dsdgen::SignalOptions o;
  o.channels = channels;
  o.sample_rate = rate;
  o.samples = samples;
  o.seed = seed;
  return dsdgen::generate_repeated(o, period);
}

// n DST-coded frames of a DSD64 signal (a low prediction order: fast).
inline std::vector<std::vector<uint8_t>> coded_frames(uint32_t channels, size_t n, uint64_t seed = 1) {
  const std::vector<uint8_t> pcm = signal(channels, 2822400, n * 4704 * 8, seed);
  return varn::dst_encode_track(pcm.data(), pcm.size(), int(channels), 64, 44100, 8, 1);
}

// What a reader hands on: the payload padded with 0x69 to whole SACD frames.
inline std::vector<uint8_t> padded(std::vector<uint8_t> payload, uint32_t channels, uint32_t rate) {
  const size_t frame = size_t(channels) * (rate / 600);
  if (payload.size() % frame) payload.resize(payload.size() + frame - payload.size() % frame, 0x69);
  return payload;
}

struct ReadResult {
  bool ok = false;
  std::string out, err;
};

template <typename Read>
ReadResult run_reader(Read read) {
  ReadResult r;
  const testsupport::Streams s = testsupport::capture([&] { r.ok = read(); });
  r.out = s.out;
  r.err = s.err;
  return r;
}
inline ReadResult run_dsf(const std::string& path, varn::InputTrack& t) {
  return run_reader([&] { return varn::read_dsf(path, t); });
}
inline ReadResult run_dff(const std::string& path, varn::InputTrack& t) {
  return run_reader([&] { return varn::read_dsdiff(path, t); });
}

inline std::string pad_line(size_t n) {
  return "  Pad SACD frames: +" + std::to_string(n) + " bytes\n";
}

// Little-endian field writes into a file image.
inline void put_le32(std::vector<uint8_t>& f, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (8 * i));
}
inline void put_le64(std::vector<uint8_t>& f, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) f[at + i] = uint8_t(v >> (8 * i));
}
inline void put_be64(std::vector<uint8_t>& f, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) f[at + i] = uint8_t(v >> (8 * (7 - i)));
}

// Offset of the first chunk with that id at or after `from` (a plain byte
// search), npos when absent.
inline size_t find_id(const std::vector<uint8_t>& f, const char* id, size_t from = 0) {
  for (size_t i = from; i + 4 <= f.size(); ++i)
    if (f[i] == uint8_t(id[0]) && f[i + 1] == uint8_t(id[1]) && f[i + 2] == uint8_t(id[2]) &&
        f[i + 3] == uint8_t(id[3]))
      return i;
  return std::string::npos;
}

// Offset of the top-level DSDIFF chunk with that id (walking the chunks of
// the FRM8 form), npos when absent.
inline size_t top_chunk(const std::vector<uint8_t>& f, const char* id) {
  size_t at = 16;
  while (at + 12 <= f.size()) {
    uint64_t size = 0;
    for (int i = 0; i < 8; ++i) size = (size << 8) | f[at + 4 + i];
    if (std::equal(id, id + 4, f.begin() + at)) return at;
    if (size > f.size()) break;
    at += 12 + size + (size & 1);
  }
  return std::string::npos;
}

}  // namespace audiotest
