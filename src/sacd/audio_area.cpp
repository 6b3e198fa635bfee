#include "sacd/audio_area.h"

#include <cerrno>
#include <cstring>

#include "audio/dst_frame_store.h"
#include "audio/plain_source.h"
#include "platform/platform.h"
#include "sacd/layout.h"
#include "platform/error.h"

namespace varn {

namespace {

constexpr uint8_t kTypeAudio = 2;
constexpr uint8_t kTypeFiller = 3;

void put_packet(uint8_t* p, bool frame_start, uint8_t type, uint32_t length) {
  p[0] = uint8_t((frame_start ? 0x80 : 0) | (type << 3) | ((length >> 8) & 7));
  p[1] = uint8_t(length);
}

// Bytes [pos, pos + n) of a stream whose first `length` bytes come from
// `data` and whose remaining bytes are `fill`. False when the data could
// not be had.
bool copy_stream(uint8_t* dst, const PlainBytes& data, uint64_t length, uint8_t fill, uint64_t pos,
                 uint64_t n) {
  uint64_t from_data = 0;
  if (pos < length) from_data = (length - pos) < n ? (length - pos) : n;
  if (from_data) {
    const uint8_t* bytes = data(pos, size_t(from_data));
    if (!bytes) return false;
    std::memcpy(dst, bytes, size_t(from_data));
  }
  if (n > from_data) std::memset(dst + from_data, fill, size_t(n - from_data));
  return true;
}

}  // namespace

void pack_plain_stream(SectorSink& sink, const uint8_t* data, uint64_t length, uint64_t total,
                       uint8_t fill, uint64_t frame_bytes, uint64_t first_frame) {
  if (!data) length = 0;
  pack_plain_stream(sink, [data](uint64_t pos, size_t) { return data + pos; }, length, total, fill,
                    frame_bytes, first_frame);
}

bool pack_plain_stream(SectorSink& sink, const PlainBytes& data, uint64_t length, uint64_t total,
                       uint8_t fill, uint64_t frame_bytes, uint64_t first_frame) {
  if (frame_bytes == 0) return true;
  uint64_t p = 0;
  bool got = true;
  while (p < total && !sink.failed && got) {
    const uint64_t k = p / frame_bytes;
    const uint64_t o = p % frame_bytes;
    const uint64_t a = frame_bytes - o;
    const uint64_t left = total - p;
    uint8_t* s = sink_next(sink);
    if (o == 0) {
      // A frame starts with this sector.
      const uint32_t n = uint32_t(left < kPlainPieceBytes ? left : kPlainPieceBytes);
      const uint32_t filler = 2040 - n;
      s[0] = 0x44;
      put_packet(s + 1, false, kTypeFiller, filler);
      put_packet(s + 3, true, kTypeAudio, n);
      put_time_code(s + 5, first_frame + k);
      got = copy_stream(s + 8 + filler, data, length, fill, p, n);
      p += n;
    } else if (a > kPlainPieceBytes) {
      // Inside a frame.
      const uint32_t n = uint32_t(left < kPlainPieceBytes ? left : kPlainPieceBytes);
      const uint32_t filler = 2043 - n;
      s[0] = 0x40;
      put_packet(s + 1, false, kTypeFiller, filler);
      put_packet(s + 3, false, kTypeAudio, n);
      got = copy_stream(s + 5 + filler, data, length, fill, p, n);
      p += n;
    } else {
      const uint64_t tail = a < left ? a : left;
      const uint64_t after = left - tail;
      const uint64_t room = kPlainPieceBytes - tail;
      const uint32_t b = uint32_t(after < room ? after : room);
      const uint32_t ta = uint32_t(tail);
      if (b > 0) {
        // End of the current frame and start of the next one.
        const uint32_t filler = 2038 - ta - b;
        s[0] = 0x64;
        put_packet(s + 1, false, kTypeFiller, filler);
        put_packet(s + 3, false, kTypeAudio, ta);
        put_packet(s + 5, true, kTypeAudio, b);
        put_time_code(s + 7, first_frame + k + 1);
        got = copy_stream(s + 10 + filler, data, length, fill, p, ta + b);
        p += ta + b;
      } else {
        // Last sector of the stream.
        const uint32_t filler = 2043 - ta;
        s[0] = 0x40;
        put_packet(s + 1, false, kTypeFiller, filler);
        put_packet(s + 3, false, kTypeAudio, ta);
        got = copy_stream(s + 5 + filler, data, length, fill, p, ta);
        p += ta;
      }
    }
  }
  return got;
}

std::vector<uint8_t> pack_plain_dsd(const uint8_t* data, size_t length, uint32_t channels,
                                    uint32_t rate_multiple, uint64_t first_frame,
                                    uint32_t base_rate) {
  std::vector<uint8_t> out;
  const uint64_t frame = uint64_t(base_rate / 75 * rate_multiple / 8) * channels;
  if (frame == 0) return out;
  const uint64_t total = (length + frame - 1) / frame * frame;
  SectorSink sink;
  sink.memory = &out;
  sink.capacity = 64;
  out.reserve(size_t(plain_stream_sectors(total) * kSectorSize));
  pack_plain_stream(sink, data, length, total, 0x69, frame, first_frame);
  sink_flush(sink);
  return out;
}

uint8_t dst_frame_info_byte(uint32_t channels, uint32_t sectors) {
  return uint8_t((channels >= 5 ? 0x80 : 0) | ((sectors & 0x1F) << 2) | (channels == 6 ? 2 : 0) |
                 (channels == 5 ? 1 : 0));
}

bool pack_dst_frames(SectorSink& sink, const std::vector<uint32_t>& lengths, const DstFrameBytes& bytes,
                     uint32_t channels, uint64_t first_frame, const std::vector<bool>& track_ends) {
  const std::vector<DstFramePack> table = dst_packing_table(lengths, track_ends);
  // A frame-info byte counts every sector holding bytes of its frame: the
  // frame's own sectors and the one where its head rides behind the frame
  // before.
  uint32_t c = 0;
  // A failed write ends the packing: nothing after it would reach the file.
  for (size_t i = 0; i < lengths.size() && !sink.failed; ++i) {
    const uint32_t length = lengths[i];
    const uint32_t h = table[i].head;
    if (table[i].sectors == 0) {
      c = 0;
      continue;
    }
    const uint8_t* f = bytes(i);
    if (!f) return false;
    // First sector of the frame.
    const uint32_t rest = length - c;
    const uint32_t n = rest < kDstFirstRoom ? rest : kDstFirstRoom;
    uint8_t* s = sink_next(sink);
    s[0] = 0x25;
    put_packet(s + 1, c == 0, kTypeAudio, n);
    put_time_code(s + 3, first_frame + i);
    s[6] = dst_frame_info_byte(channels, table[i].sectors + (c > 0 ? 1 : 0));
    std::memcpy(s + 7, f + c, n);
    uint32_t off = c + n;
    uint32_t r = rest - n;
    while (r > kDstLastRoom) {
      const uint32_t m = r < kDstMiddleRoom ? r : kDstMiddleRoom;
      s = sink_next(sink);
      s[0] = 0x21;
      put_packet(s + 1, false, kTypeAudio, m);
      std::memcpy(s + 3, f + off, m);
      off += m;
      r -= m;
    }
    c = h;
    if (r == 0) continue;
    s = sink_next(sink);
    if (h == 0) {
      // Last sector of the frame, nothing of the next frame in it.
      s[0] = 0x21;
      put_packet(s + 1, false, kTypeAudio, r);
      std::memcpy(s + 3, f + off, r);
      continue;
    }
    // Last sector: the end of this frame and the head of the next.
    s[0] = 0x45;
    put_packet(s + 1, false, kTypeAudio, r);
    put_packet(s + 3, true, kTypeAudio, h);
    put_time_code(s + 5, first_frame + i + 1);
    s[8] = dst_frame_info_byte(channels, table[i + 1].sectors + 1);
    std::memcpy(s + 9, f + off, r);
    const uint8_t* next = bytes(i + 1);
    if (!next) return false;
    std::memcpy(s + 9 + r, next, h);
  }
  return true;
}

std::vector<uint8_t> pack_dst(const std::vector<DstFrame>& frames, uint32_t channels,
                              uint64_t first_frame) {
  std::vector<uint8_t> out;
  std::vector<uint32_t> lengths;
  lengths.reserve(frames.size());
  for (const DstFrame& f : frames) lengths.push_back(uint32_t(f.size()));
  SectorSink sink;
  sink.memory = &out;
  sink.capacity = 64;
  pack_dst_frames(sink, lengths, [&frames](size_t i) { return frames[i].data(); }, channels, first_frame);
  sink_flush(sink);
  return out;
}

namespace {

// A plain track's audio, from memory or streamed from its file; padding
// and the bytes of a last partial frame are 0x69. An error when its file
// could not be read.
Status write_plain_track(SectorSink& sink, const InputTrack& t, uint64_t total, uint64_t frame,
                         uint64_t first_frame) {
  if (!t.audio.empty() || t.source.path.empty()) {
    pack_plain_stream(sink, t.audio.data(), t.audio.size(), total, 0x69, frame, first_frame);
    return std::nullopt;
  }
  PayloadFeed feed;
  if (open_feed(feed, t) &&
      pack_plain_stream(sink, [&feed](uint64_t pos, size_t n) { return feed_bytes(feed, pos, n); },
                        plain_payload_bytes(t), total, 0x69, frame, first_frame))
    return std::nullopt;
  return make_error("  Error: %s: read error in the audio data\n", t.source.path.c_str());
}

// The DST frames of an area as one sequence, each track's frames read from
// where they lie as they are packed: the one place the writer reads frame
// bytes. An error when they could not be read.
Status write_area_dst(SectorSink& sink, const std::vector<InputTrack>& tracks, const std::vector<size_t>& area) {
  std::vector<const DstFrameStore*> stores;
  std::vector<size_t> first;  // the sequence index of each store's first frame
  std::vector<uint32_t> lengths;
  std::vector<bool> ends;
  uint32_t channels = 0;
  for (size_t pos : area) {
    const InputTrack& t = tracks[pos];
    if (!t.is_dst || t.dst_frames.frames.empty()) continue;
    if (channels == 0) channels = t.channels;
    stores.push_back(&t.dst_frames);
    first.push_back(lengths.size());
    for (const DstFrameRef& f : t.dst_frames.frames) lengths.push_back(f.length);
    ends.resize(lengths.size(), false);
    ends.back() = true;
  }
  DstFrameReader reader;
  size_t k = 0;
  const DstFrameBytes bytes = [&](size_t i) -> const uint8_t* {
    while (k + 1 < stores.size() && i >= first[k + 1]) ++k;
    return read_dst_frame(reader, *stores[k], i - first[k]);
  };
  if (pack_dst_frames(sink, lengths, bytes, channels, 0, ends)) return std::nullopt;
  // The packer stops at the first frame it cannot have: the one of store k.
  return make_error("Error: reading the DST frames from %s failed\n", dst_frame_origin(*stores[k]).c_str());
}

}  // namespace

Sector run_out_sector() {
  Sector s;
  s.fill(0x55);
  s[0] = 0x20;
  s[1] = 0x04;
  s[2] = 0x00;
  return s;
}

Status write_area_audio(SectorSink& sink, const DiscLayout& layout, bool mch) {
  if (!layout.tracks) return make_error("Error: the audio area has no image or no track list to write\n");
  const std::vector<InputTrack>& tracks = *layout.tracks;
  const std::vector<size_t> area = area_track_positions(tracks, mch);
  const uint64_t first = sink.sectors;

  if (Status failed = write_area_dst(sink, tracks, area)) return failed;

  uint64_t counter = 0;
  for (size_t pos : area) {
    const InputTrack& t = tracks[pos];
    if (t.is_dst) continue;
    const uint64_t frame = plain_frame_bytes(t);
    if (counter != 0 && t.pause_frames != 0) {
      pack_plain_stream(sink, nullptr, 0, plain_pause_bytes(t), 0x55, frame, counter);
      counter += t.pause_frames;
    }
    if (Status failed = write_plain_track(sink, t, plain_stream_bytes(t), frame, counter)) return failed;
    counter += track_frame_count(t);
  }
  const AreaPlan& plan = mch ? layout.multi : layout.stereo;
  sink_settle(sink);
  if (sink.failed)
    return make_error("Error: writing the %s audio area failed: %s\n", mch ? "multichannel" : "2ch",
                      std::strerror(sink.error));
  const uint64_t audio_sectors = sink.sectors - first;
  if (audio_sectors != plan.total_sectors)
    return make_error("Error: the %s audio area took %llu sectors, but the layout planned %llu\n",
                      mch ? "multichannel" : "2ch", (unsigned long long)audio_sectors,
                      (unsigned long long)plan.total_sectors);
  return std::nullopt;
}

}  // namespace varn
