// A plain track's audio left in its file: where it lies and how it is
// stored, so that the payload (byte-interleaved channels, earliest sample in
// the MSB, padded with 0x69 to whole SACD frames) is read when it is needed
// instead of being held from reading until the image is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/input_track.h"
#include "audio/reader_common.h"

namespace varn {

// Payload bytes of a plain track as written, padding included: held in
// `audio`, or described by `source`.
uint64_t plain_payload_bytes(const InputTrack& t);

// Payload bytes the file itself supplies (before the padding).
inline uint64_t source_payload_bytes(const PlainSource& s, uint32_t channels) {
  return s.bytes_per_channel * channels;
}

// Reads payload bytes [pos, pos + n) of a track whose audio is left in its
// file (`in` opened on source.path); bytes past the file's audio are the
// padding byte 0x69. False when a read came back short.
bool read_payload(const InputTrack& t, InputFile& in, uint64_t pos, uint8_t* out, size_t n);

// Sequential reader of a track's payload through a bounded buffer.
struct PayloadFeed {
  const InputTrack* track = nullptr;
  InputFile in;
  std::vector<uint8_t> buffer;
  uint64_t buffer_pos = 0;   // payload offset of buffer[0]
  uint64_t buffer_len = 0;   // bytes valid in the buffer
  bool failed = false;
};

// Opens the feed on a track whose audio is left in its file. False when the
// file cannot be opened.
bool open_feed(PayloadFeed& feed, const InputTrack& t);

// Payload bytes [pos, pos + n) (n at most kFeedBytes); requests must come
// in increasing order. Null after a failed read.
constexpr size_t kFeedBytes = size_t(1) << 22;
const uint8_t* feed_bytes(PayloadFeed& feed, uint64_t pos, size_t n);

// Reads the whole payload into `audio`, padding included (for coding).
// False when the file cannot be read.
bool load_payload(InputTrack& t);

}  // namespace varn
