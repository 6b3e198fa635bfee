// Helpers for the audio reader tests: test signals, captured reader runs,
// the payload a reader must deliver, field writes into file images.
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
#include "support/test_support.h"

namespace audiotest {

using testsupport::ScratchDir;
using varn::InputTrack;

// A payload; the modulator runs over at most `period` bytes per channel and
// the rest repeats them (fast long signals).
inline std::vector<uint8_t> signal(uint32_t channels, uint32_t rate, uint64_t samples, uint64_t seed = 1,
                                   uint64_t period = 2048) {
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
// Reads a DSF or DSDIFF file (by its extension) with both streams captured;
// the reader's error follows its reports, where the front end prints it.
inline ReadResult read(const std::string& path, InputTrack& t) {
  ReadResult r;
  const bool dsf = path.size() > 4 && path.compare(path.size() - 4, 4, ".dsf") == 0;
  varn::Status error;
  const testsupport::Streams s =
      testsupport::capture([&] { error = dsf ? varn::read_dsf(path, t) : varn::read_dsdiff(path, t); });
  r.ok = !error;
  r.out = s.out;
  r.err = s.err + (error ? error->text : "");
  return r;
}
// The message of the last "Error: <path>: " line, empty when there is none.
inline std::string refusal(const ReadResult& r, const std::string& path) {
  const std::string head = "  Error: " + path + ": ";
  const size_t at = r.err.rfind(head);
  return at == std::string::npos ? std::string() : r.err.substr(at + head.size());
}

inline std::string pad_line(size_t n) { return n ? "  Pad SACD frames: +" + std::to_string(n) + " bytes\n" : ""; }

// Field writes into a file image: little-endian (DSF) or big-endian (DSDIFF).
inline void put(std::vector<uint8_t>& f, size_t at, uint64_t v, int width, bool big = false) {
  for (int i = 0; i < width; ++i) f[at + i] = uint8_t(v >> (8 * (big ? width - 1 - i : i)));
}

// Offset of the first occurrence of an id at or after `from`, npos when absent.
inline size_t find_id(const std::vector<uint8_t>& f, const char* id, size_t from = 0) {
  const auto it = std::search(f.begin() + std::min(from, f.size()), f.end(), id, id + 4);
  return it == f.end() ? std::string::npos : size_t(it - f.begin());
}

// Offset of the top-level DSDIFF chunk with that id, npos when absent.
inline size_t top_chunk(const std::vector<uint8_t>& f, const char* id) {
  for (size_t at = 16; at + 12 <= f.size();) {
    uint64_t size = 0;
    for (int i = 0; i < 8; ++i) size = (size << 8) | f[at + 4 + i];
    if (std::equal(id, id + 4, f.begin() + at)) return at;
    if (size > f.size()) break;
    at += 12 + size + (size & 1);
  }
  return std::string::npos;
}

}  // namespace audiotest
