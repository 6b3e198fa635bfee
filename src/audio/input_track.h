#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/dst_frame_store.h"

namespace varn {

// Where a plain track's audio lies in its file when it is not held in
// memory (path empty when it is).
struct PlainSource {
  std::string path;
  uint64_t start = 0;              // first audio byte in the file
  uint64_t region = 0;             // bytes of the audio region
  uint64_t bytes_per_channel = 0;  // audio bytes of each channel
  uint64_t block = 0;              // DSF bytes per channel block; 0: interleaved
  bool reverse_bits = false;       // earliest sample in the LSB
  // For each channel of the payload, the file channel it is read from
  // (interleaved audio only); empty: the file's own order.
  std::vector<uint8_t> channel_from;
};

// One input audio file: its payload in the audio area's own layout
// (byte-interleaved channels, earliest sample in the MSB, whole SACD frames),
// its tags and, for DST-coded audio, where its frames lie.
struct InputTrack {
  std::vector<uint8_t> audio;
  PlainSource source;  // the audio left in the file, when `audio` is empty
  uint32_t channels = 0;
  uint64_t sample_count = 0;
  std::string title;
  std::string artist;
  std::string album;
  std::string composer;  // the track's composer text on the disc
  std::string genre;
  std::string date;
  uint32_t rate_multiple = 64;
  uint32_t sample_rate = 2822400;
  bool is_dst = false;
  DstFrameStore dst_frames;  // where the DST frames lie, when is_dst
  int dst_order = 128;  // prediction order the track is coded with
  uint32_t track_number = 0;
  uint32_t pause_frames = 150;
  std::vector<uint8_t> cover;
};

// Tracks of exactly two channels make the disc's 2-channel area, all
// others its multichannel area.
inline bool in_stereo_area(const InputTrack& t) { return t.channels == 2; }

// Base rate of a DSD sample rate: 44100 when it is a whole multiple of
// 44100, else 48000.
inline uint32_t base_rate_of(uint32_t sample_rate) {
  return (sample_rate % 44100 == 0) ? 44100u : 48000u;
}

}  // namespace varn
