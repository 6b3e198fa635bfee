#include "audio/plain_source.h"

#include <algorithm>
#include <cstring>

#include "audio/bit_reverse.h"
#include "audio/channel_order.h"
#include "audio/deblock.h"

namespace varn {

namespace {

constexpr uint8_t kPadding = 0x69;

bool in_file(const InputTrack& t) { return t.audio.empty() && !t.source.path.empty(); }

// Whole sample bytes [first, first + count) of every channel, interleaved
// in payload order.
bool read_sample_bytes(const InputTrack& t, InputFile& in, uint64_t first, uint64_t count, uint8_t* out) {
  const PlainSource& s = t.source;
  const uint64_t C = t.channels;
  if (s.block == 0) {
    if (read_at(in, s.start + first * C, out, size_t(count * C)) != count * C) return false;
    if (!s.channel_from.empty()) reorder_channels(out, size_t(count * C), s.channel_from);
    return true;
  }
  const uint8_t* table = s.reverse_bits ? bit_reverse_table() : nullptr;
  DeblockSource src{&in, s.start, s.region};
  return deblock_dsf_range(src, t.channels, s.bytes_per_channel, s.block, table, first, count, out);
}

}  // namespace

uint64_t plain_payload_bytes(const InputTrack& t) {
  if (t.is_dst || !in_file(t)) return t.audio.size();
  return padded_to_sacd_frames(source_payload_bytes(t.source, t.channels), t.channels, t.sample_rate);
}

bool read_payload(const InputTrack& t, InputFile& in, uint64_t pos, uint8_t* out, size_t n) {
  const PlainSource& s = t.source;
  const uint64_t C = t.channels;
  const uint64_t have = source_payload_bytes(s, t.channels);
  const size_t real = pos < have ? size_t(std::min<uint64_t>(n, have - pos)) : 0;
  std::memset(out + real, kPadding, n - real);
  if (real == 0) return true;
  if (s.block == 0 && s.channel_from.empty()) return read_at(in, s.start + pos, out, real) == real;
  if (pos % C == 0 && real % C == 0) return read_sample_bytes(t, in, pos / C, real / C, out);
  // Whole sample bytes of every channel around the range, then cut.
  const uint64_t first = pos / C;
  const uint64_t last = (pos + real + C - 1) / C;
  std::vector<uint8_t> woven(size_t((last - first) * C));
  const bool ok = read_sample_bytes(t, in, first, last - first, woven.data());
  std::memcpy(out, woven.data() + (pos - first * C), real);
  return ok;
}

bool open_feed(PayloadFeed& feed, const InputTrack& t) {
  feed.track = &t;
  feed.buffer_pos = feed.buffer_len = 0;
  feed.failed = !open_input(t.source.path, feed.in);
  return !feed.failed;
}

const uint8_t* feed_bytes(PayloadFeed& feed, uint64_t pos, size_t n) {
  if (feed.failed) return nullptr;
  if (pos < feed.buffer_pos || pos + n > feed.buffer_pos + feed.buffer_len) {
    const InputTrack& t = *feed.track;
    const uint64_t C = t.channels;
    const uint64_t start = pos - pos % C;
    const uint64_t room = kFeedBytes - kFeedBytes % C;
    const uint64_t len = std::min<uint64_t>(room, plain_payload_bytes(t) - start);
    if (len < pos - start + n) {
      feed.failed = true;
      return nullptr;
    }
    feed.buffer.resize(size_t(room));
    if (!read_payload(t, feed.in, start, feed.buffer.data(), size_t(len))) {
      feed.failed = true;
      return nullptr;
    }
    feed.buffer_pos = start;
    feed.buffer_len = len;
  }
  return feed.buffer.data() + (pos - feed.buffer_pos);
}

bool load_payload(InputTrack& t) {
  if (!in_file(t)) return true;
  InputFile in;
  if (!open_input(t.source.path, in)) return false;
  std::vector<uint8_t> audio(size_t(plain_payload_bytes(t)));
  if (!read_payload(t, in, 0, audio.data(), audio.size())) return false;
  t.audio = std::move(audio);
  return true;
}

}  // namespace varn
