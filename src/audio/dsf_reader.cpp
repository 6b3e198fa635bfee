// DSF reader: "DSD ", "fmt " and "data" chunk headers, channel blocks woven
// into the byte-interleaved MSB-first payload, ID3v2 tag at the metadata
// pointer.
#include "audio/dsf_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/bit_reverse.h"
#include "audio/deblock.h"
#include "audio/id3.h"
#include "audio/reader_common.h"

namespace varn {

namespace {

struct DsfHeader {
  uint64_t metadata_pointer = 0;
  uint32_t channels = 0;
  uint32_t sample_rate = 0;
  uint32_t bits_per_sample = 0;
  uint64_t sample_count = 0;
  uint32_t block_size = 0;
  uint64_t audio_start = 0;  // first byte after the data chunk header
};

bool read_header(InputFile& in, DsfHeader& h) {
  uint8_t dsd[28];
  if (read_at(in, 0, dsd, 28) != 28 || std::memcmp(dsd, "DSD ", 4) != 0) return false;
  const uint64_t dsd_size = get_le64(dsd + 4);
  if (dsd_size < 28 || dsd_size > in.size) return false;
  h.metadata_pointer = get_le64(dsd + 20);

  uint8_t fmt[12 + 64];
  if (read_at(in, dsd_size, fmt, 12) != 12 || std::memcmp(fmt, "fmt ", 4) != 0) return false;
  const uint64_t fmt_size = get_le64(fmt + 4);
  if (fmt_size < 48 || fmt_size > in.size - dsd_size) return false;
  const size_t body = size_t(std::min<uint64_t>(fmt_size - 12, 64));
  if (read_at(in, dsd_size + 12, fmt + 12, body) != body) return false;
  h.channels = get_le32(fmt + 24);
  h.sample_rate = get_le32(fmt + 28);
  h.bits_per_sample = get_le32(fmt + 32);
  h.sample_count = get_le64(fmt + 36);
  h.block_size = get_le32(fmt + 44);

  const uint64_t data_at = dsd_size + fmt_size;
  uint8_t data[12];
  if (read_at(in, data_at, data, 12) != 12 || std::memcmp(data, "data", 4) != 0) return false;
  h.audio_start = data_at + 12;
  return true;
}

bool fail(InputFile& in, InputTrack& track) {
  in.close();
  clear_failed_track(track);
  return false;
}

// Reads the tag at the metadata pointer into the record. False only when a
// tag header was found but its body is cut short.
bool read_tag(InputFile& in, uint64_t pointer, InputTrack& track) {
  uint8_t head[10];
  if (read_at(in, pointer, head, 10) != 10 || std::memcmp(head, "ID3", 3) != 0) return true;
  const uint64_t body = (uint64_t(head[6] & 0x7F) << 21) | (uint64_t(head[7] & 0x7F) << 14) |
                        (uint64_t(head[8] & 0x7F) << 7) | uint64_t(head[9] & 0x7F);
  if (body > bytes_after(in, pointer + 10)) return false;
  std::vector<uint8_t> tag(10 + body);
  std::memcpy(tag.data(), head, 10);
  if (read_at(in, pointer + 10, tag.data() + 10, size_t(body)) != body) return false;
  const Id3Tag parsed = parse_id3(tag.data(), tag.size());
  apply_id3_texts(parsed, track);
  track.cover = id3_picture(parsed);
  return true;
}

}  // namespace

bool read_dsf(const std::string& path, InputTrack& track) {
  const char* p = path.c_str();
  InputFile in;
  if (!open_input(path, in)) {
    std::fprintf(stderr, "  Error: cannot open %s\n", p);
    return false;
  }
  DsfHeader h;
  if (!read_header(in, h)) {
    std::fprintf(stderr, "  Error: %s: bad fmt chunk or data chunk (corrupt DSF header)\n", p);
    return fail(in, track);
  }
  track.channels = h.channels;
  track.sample_count = h.sample_count;
  set_sample_rate(path, track, h.sample_rate);
  if (h.channels != 2 && h.channels != 5 && h.channels != 6) {
    std::fprintf(stderr, "  Error: %s: unsupported channels %u\n", p, h.channels);
    return fail(in, track);
  }
  // Below 600 Hz an SACD frame would hold no bytes at all.
  if (h.sample_rate < 600) {
    std::fprintf(stderr, "  Error: %s: bad sample rate %u\n", p, h.sample_rate);
    return fail(in, track);
  }

  // The audio region runs to the end of the file, a trailing tag included.
  const uint64_t region = bytes_after(in, h.audio_start);
  if (region == 0) {
    std::fprintf(stderr, "  Error: %s: no DSD data\n", p);
    return fail(in, track);
  }
  if (h.sample_count == 0) {
    std::fprintf(stderr, "  Error: %s: sample_count is 0 (bad header field)\n", p);
    return fail(in, track);
  }
  const uint64_t bpc = h.sample_count / 8;
  auto truncated = [&](uint64_t held) {
    std::fprintf(stderr,
                 "  Error: %s: header declares %llu samples (%zu bytes/ch x %u ch = %zu bytes), "
                 "but the file holds only %zu bytes of audio => truncated file or header mismatch, "
                 "refusing to process\n",
                 p, (unsigned long long)h.sample_count, size_t(bpc), h.channels,
                 size_t(bpc * h.channels), size_t(held));
  };
  if (bpc > region / h.channels) {
    truncated(region);
    return fail(in, track);
  }

  // Room for the padded payload at once, so padding never moves it.
  const uint64_t length = bpc * h.channels;
  const uint64_t padded = padded_to_sacd_frames(length, h.channels, h.sample_rate);
  track.audio.reserve(size_t(padded));
  track.audio.resize(size_t(length));
  DeblockSource src{&in, h.audio_start, region};
  const uint8_t* table = h.bits_per_sample == 1 ? bit_reverse_table() : nullptr;
  if (!deblock_dsf(src, h.channels, bpc, h.block_size ? h.block_size : bpc, table,
                   track.audio.data())) {
    // The file ended early while being read.
    if (length > src.region) {
      truncated(src.region);
      return fail(in, track);
    }
  }
  pad_to_sacd_frames(track);

  if (h.metadata_pointer != 0 && !read_tag(in, h.metadata_pointer, track)) return fail(in, track);

  in.close();
  std::printf("  [DSF] %s  %uch %uHz  %llu samples  %s - %s\n", p, track.channels,
              track.sample_rate, (unsigned long long)track.sample_count, track.artist.c_str(),
              track.title.c_str());
  return true;
}

}  // namespace varn
