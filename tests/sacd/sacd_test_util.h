// Helpers of the SACD structure tests: track records built in the test,
// a reader of audio sectors that takes headers and packets apart, and the
// layout of a track list.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "audio/input_track.h"
#include "sacd/area_toc.h"
#include "sacd/disc_layout.h"
#include "sacd/layout.h"
#include "support/dst_frames.h"
#include "support/pinned.h"
#include "support/capture.h"
#include "support/test_support.h"

namespace sacdtest {

// A PNG header of the given size followed by filler bytes.
inline std::vector<uint8_t> png_picture(uint32_t w, uint32_t h, size_t total) {
  std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (uint32_t v : {w, h})
    for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
  while (b.size() < total) b.push_back(uint8_t(b.size() * 131 + 7));
  return b;
}

// A plain track of `frames` SACD frames of counting bytes.
inline varn::InputTrack pattern_track(uint32_t channels, uint32_t sample_rate, uint32_t frames) {
  varn::InputTrack t;
  t.channels = channels;
  t.sample_rate = sample_rate;
  t.rate_multiple = sample_rate / varn::base_rate_of(sample_rate);
  t.audio.resize(size_t(sample_rate / 600) * channels * frames);
  for (size_t i = 0; i < t.audio.size(); ++i) t.audio[i] = uint8_t(i * 131 + 7);
  t.sample_count = uint64_t(sample_rate / 75) * frames;
  return t;
}

// A DST-coded track whose frames have the given lengths (random bytes, the
// first bit set as in coded frames).
inline varn::InputTrack dst_track(uint32_t channels, uint32_t sample_rate,
                                  const std::vector<uint32_t>& lengths, uint64_t seed = 7) {
  varn::InputTrack t;
  t.channels = channels;
  t.sample_rate = sample_rate;
  t.rate_multiple = sample_rate / varn::base_rate_of(sample_rate);
  t.is_dst = true;
  std::mt19937_64 rng(seed);
  std::vector<varn::DstFrame> frames;
  for (uint32_t len : lengths) {
    varn::DstFrame f(len);
    for (auto& b : f) b = uint8_t(rng());
    if (len) f[0] |= 0x80;
    frames.push_back(std::move(f));
  }
  t.dst_frames = testsupport::spooled_frames(frames);  // kept where a run keeps them
  t.sample_count = uint64_t(lengths.size()) * (sample_rate / 75);
  return t;
}

// One audio sector taken apart.
struct Packet {
  bool frame_start = false;
  uint32_t type = 0;
  uint32_t length = 0;
  std::vector<uint8_t> data;
};
struct AudioSector {
  std::vector<Packet> packets;
  std::vector<std::vector<uint8_t>> frame_infos;
  bool ok = true;  // lengths add up to at most the sector
};

inline AudioSector parse_audio_sector(const uint8_t* s) {
  AudioSector a;
  const uint32_t packets = s[0] >> 5, infos = (s[0] >> 2) & 7;
  size_t at = 1;
  for (uint32_t i = 0; i < packets; ++i, at += 2)
    a.packets.push_back({bool(s[at] & 0x80), uint32_t(s[at] >> 3) & 7, (uint32_t(s[at] & 7) << 8) | s[at + 1], {}});
  const size_t info_len = (s[0] & 1) ? 4 : 3;  // DST frame infos carry a sector count
  for (uint32_t i = 0; i < infos; ++i) {
    a.frame_infos.emplace_back(s + at, s + at + info_len);
    at += info_len;
  }
  for (Packet& p : a.packets) {
    if (at + p.length > 2048) {
      a.ok = false;
      break;
    }
    p.data.assign(s + at, s + at + p.length);
    at += p.length;
  }
  return a;
}

// Audio bytes of consecutive sectors, cut into frames at every frame start
// (bytes before the first frame start go into a leading partial entry).
struct Reassembly {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<uint8_t> stream;      // all audio packet bytes in order
  bool ok = true;
};
inline Reassembly reassemble(const uint8_t* sectors, size_t count) {
  Reassembly r;
  for (size_t i = 0; i < count; ++i) {
    const AudioSector a = parse_audio_sector(sectors + i * 2048);
    if (!a.ok) r.ok = false;
    for (const Packet& p : a.packets) {
      if (p.type != 2) continue;
      if (p.frame_start || r.frames.empty()) r.frames.emplace_back();
      r.frames.back().insert(r.frames.back().end(), p.data.begin(), p.data.end());
      r.stream.insert(r.stream.end(), p.data.begin(), p.data.end());
    }
  }
  return r;
}

// The layout of `tracks` for `album` (which must outlive it).
inline varn::DiscLayout plan(std::vector<varn::InputTrack>& tracks, const varn::Album* album = &varn::kNoAlbum) {
  varn::DiscLayout l;
  EXPECT_FALSE(varn::plan_disc_layout(tracks, *album, l));
  return l;
}

}  // namespace sacdtest
