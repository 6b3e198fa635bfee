// DSF reader: "DSD ", "fmt " and "data" chunk headers, channel blocks woven
// into the byte-interleaved MSB-first payload, ID3v2 tag at the metadata
// pointer.
#include "audio/dsf_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "audio/bit_reverse.h"
#include "audio/deblock.h"
#include "audio/id3.h"
#include "audio/reader_common.h"
#include "platform/error.h"
#include "platform/report.h"

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
  uint64_t data_size = 0;    // the data chunk's size field (header included)
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
  h.data_size = get_le64(data + 4);
  return true;
}

Error fail(InputFile& in, InputTrack& track, Error error) {
  in.close();
  clear_failed_track(track);
  return error;
}

// Channel count, rate and bit order the reader can take.
Status check_format(const char* p, const DsfHeader& h) {
  if (h.channels != 2 && h.channels != 5 && h.channels != 6) {
    return make_error("  Error: %s: unsupported channels %u\n", p, h.channels);
  }
  // Below 600 Hz an SACD frame would hold no bytes at all.
  if (h.sample_rate < 600) {
    return make_error("  Error: %s: bad sample rate %u\n", p, h.sample_rate);
  }
  if (h.bits_per_sample != 1 && h.bits_per_sample != 8) {
    return make_error("  Error: %s: unsupported bits per sample %u (1 or 8)\n", p,
                      h.bits_per_sample);
  }
  return std::nullopt;
}

// The sizes of the header against the file and against each other: the
// file holds the whole data chunk, the audio holds exactly the block rows
// the sample count needs, and the tag lies after the audio (the total size
// field is left alone: taggers do not all keep it).
Status check_sizes(const char* p, const InputFile& in, const DsfHeader& h) {
  using ull = unsigned long long;
  if (h.data_size < 12) {
    return make_error("  Error: %s: bad data chunk size %llu (corrupt DSF header)\n", p,
                      ull(h.data_size));
  }
  const uint64_t payload = h.data_size - 12;
  if (payload > bytes_after(in, h.audio_start)) {
    return make_error("  Error: %s: the data chunk declares %llu bytes of audio, but the file holds "
                      "only %llu => truncated file, refusing to process\n",
                      p, ull(payload), ull(bytes_after(in, h.audio_start)));
  }
  if (payload == 0) {
    return make_error("  Error: %s: no DSD data\n", p);
  }
  if (h.sample_count == 0) {
    return make_error("  Error: %s: sample_count is 0 (bad header field)\n", p);
  }
  // Channels are stored in rows of one block per channel; the last row is
  // filled up to whole blocks. The last sample of the last channel must lie
  // inside the data, and no whole row may lie beyond what the samples need.
  const uint64_t C = h.channels;
  const uint64_t bpc = h.sample_count / 8;
  const uint64_t block = h.block_size ? h.block_size : bpc;
  uint64_t extent = 0, rows_end = 0;
  if (bpc <= payload / C && block != 0) {
    const uint64_t rows = bpc / block + (bpc % block != 0);
    extent = (rows - 1) * C * block + (C - 1) * block + (bpc - (rows - 1) * block);
    rows_end = rows * C * block;
  }
  if (bpc > payload / C || extent > payload) {
    return make_error("  Error: %s: header declares %llu samples (%zu bytes/ch x %u ch = %zu bytes), "
                      "but the file holds only %zu bytes of audio => truncated file or header mismatch, "
                      "refusing to process\n",
                      p, ull(h.sample_count), size_t(bpc), h.channels, size_t(bpc * C), size_t(payload));
  }
  if (payload >= rows_end + C * block) {
    return make_error("  Error: %s: header declares %llu samples, but the data chunk holds %llu bytes "
                      "of audio (%llu would do) => header mismatch, refusing to process\n",
                      p, ull(h.sample_count), ull(payload), ull(rows_end));
  }
  const uint64_t audio_end = h.audio_start + payload;
  if (h.metadata_pointer != 0 && (h.metadata_pointer < audio_end || h.metadata_pointer >= in.size)) {
    return make_error("  Error: %s: metadata pointer %llu lies outside the tag area (audio ends at "
                      "%llu, file size %llu) => truncated file or header mismatch, refusing to process\n",
                      p, ull(h.metadata_pointer), ull(audio_end), ull(in.size));
  }
  return std::nullopt;
}

// Reads the tag at the metadata pointer into the record. An error only when
// a tag header was found but its body is cut short.
Status read_tag(const std::string& path, InputFile& in, uint64_t pointer, InputTrack& track) {
  uint8_t head[10];
  if (read_at(in, pointer, head, 10) != 10 || std::memcmp(head, "ID3", 3) != 0) return std::nullopt;
  const uint64_t body = (uint64_t(head[6] & 0x7F) << 21) | (uint64_t(head[7] & 0x7F) << 14) |
                        (uint64_t(head[8] & 0x7F) << 7) | uint64_t(head[9] & 0x7F);
  if (body > bytes_after(in, pointer + 10)) {
    return make_error("  Error: %s: the ID3v2 tag at %llu runs past the end of the file => truncated file\n",
                      path.c_str(), (unsigned long long)pointer);
  }
  std::vector<uint8_t> tag(10 + body);
  std::memcpy(tag.data(), head, 10);
  if (read_at(in, pointer + 10, tag.data() + 10, size_t(body)) != body) {
    return make_error("  Error: %s: cannot read the ID3v2 tag at %llu\n", path.c_str(),
                      (unsigned long long)pointer);
  }
  const Id3Tag parsed = parse_id3(tag.data(), tag.size());
  apply_id3_texts(parsed, track);
  track.cover = id3_picture(parsed);
  return std::nullopt;
}

// Opens the file and reads its chunk headers.
Status open_dsf(const std::string& path, InputFile& in, DsfHeader& h) {
  if (!open_input(path, in)) {
    return make_error("  Error: cannot open %s\n", path.c_str());
  }
  if (!read_header(in, h)) {
    return make_error("  Error: %s: bad fmt chunk or data chunk (corrupt DSF header)\n", path.c_str());
  }
  return std::nullopt;
}

}  // namespace

Status read_dsf(const std::string& path, InputTrack& track, bool leave_audio_in_file) {
  const char* p = path.c_str();
  InputFile in;
  DsfHeader h;
  if (Status e = open_dsf(path, in, h)) return fail(in, track, std::move(*e));
  track.channels = h.channels;
  track.sample_count = h.sample_count;
  set_sample_rate(path, track, h.sample_rate);
  if (Status e = check_format(p, h)) return fail(in, track, std::move(*e));
  if (Status e = check_sizes(p, in, h)) return fail(in, track, std::move(*e));

  const uint64_t bpc = h.sample_count / 8;
  const uint64_t length = bpc * h.channels;
  const uint64_t block = h.block_size ? h.block_size : bpc;
  if (leave_audio_in_file) {
    track.source = PlainSource{path, h.audio_start, h.data_size - 12, bpc, block, h.bits_per_sample == 1, {}};
    note_padding(track, length);
  } else {
    // Room for the padded payload at once, so padding never moves it.
    const uint64_t padded = padded_to_sacd_frames(length, h.channels, h.sample_rate);
    track.audio.reserve(size_t(padded));
    track.audio.resize(size_t(length));
    DeblockSource src{&in, h.audio_start, h.data_size - 12};
    const uint8_t* table = h.bits_per_sample == 1 ? bit_reverse_table() : nullptr;
    if (!deblock_dsf(src, h.channels, bpc, block, table, track.audio.data())) {
      return fail(in, track,
                  make_error("  Error: %s: read error in the audio data at byte %llu\n", p,
                             (unsigned long long)(h.audio_start + src.region)));
    }
    pad_to_sacd_frames(track);
  }

  if (h.metadata_pointer != 0) {
    if (Status e = read_tag(path, in, h.metadata_pointer, track)) return fail(in, track, std::move(*e));
  }

  in.close();
  report_note("  [DSF] %s  %uch %uHz  %llu samples  %s - %s\n", p, track.channels,
              track.sample_rate, (unsigned long long)track.sample_count, track.artist.c_str(),
              track.title.c_str());
  return std::nullopt;
}

Status check_dsf_file(const std::string& path) {
  const char* p = path.c_str();
  InputFile in;
  DsfHeader h;
  if (Status e = open_dsf(path, in, h)) return e;
  if (Status e = check_format(p, h)) return e;
  if (Status e = check_sizes(p, in, h)) return e;
  InputTrack tags;
  return h.metadata_pointer == 0 ? std::nullopt : read_tag(path, in, h.metadata_pointer, tags);
}

}  // namespace varn
