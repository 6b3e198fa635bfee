// Helpers for the audio reader tests: test signals, captured reader runs,
// the payload a reader must deliver.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "audio/dsdiff_reader.h"
#include "audio/dsf_reader.h"
#include "audio/input_track.h"
#include "dsdgen/dsdgen.h"
#include "dst/dst_parallel.h"
#include "support/capture.h"
#include "support/file_bytes.h"
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
// With `leave_audio_in_file` only the header is read and the audio stays
// in the file.
inline ReadResult read(const std::string& path, InputTrack& t, bool leave_audio_in_file = false) {
  ReadResult r;
  const bool dsf = path.size() > 4 && path.compare(path.size() - 4, 4, ".dsf") == 0;
  varn::Status error;
  const testsupport::Streams s = testsupport::capture([&] {
    error = dsf ? varn::read_dsf(path, t, leave_audio_in_file) : varn::read_dsdiff(path, t, leave_audio_in_file);
  });
  r.ok = !error;
  r.out = s.out;
  r.err = s.err + (error ? error->text : "");
  return r;
}
// Reads a file the reader must accept (a refusal fails the test with its
// text); `t` holds what the command line preset.
inline InputTrack accepted(const std::string& path, InputTrack t = {}, bool leave_audio_in_file = false) {
  const ReadResult r = read(path, t, leave_audio_in_file);
  EXPECT_TRUE(r.ok) << path << ": " << r.err;
  return t;
}
// The track's texts in one line: title|artist|album|genre|date.
inline std::string texts(const InputTrack& t) {
  return t.title + "|" + t.artist + "|" + t.album + "|" + t.genre + "|" + t.date;
}

// The message of the last "Error: <path>: " line, empty when there is none.
inline std::string refusal(const ReadResult& r, const std::string& path) {
  const std::string head = "  Error: " + path + ": ";
  const size_t at = r.err.rfind(head);
  return at == std::string::npos ? std::string() : r.err.substr(at + head.size());
}

inline std::string pad_line(size_t n) { return n ? "  Pad SACD frames: +" + std::to_string(n) + " bytes\n" : ""; }

using testsupport::cut;
using testsupport::find_id;
using testsupport::put;
using testsupport::top_chunk;

}  // namespace audiotest
