// DSDIFF reader: FRM8/"DSD " form, PROP/"SND " properties, plain "DSD " or
// DST-coded "DST " sound data, DIIN texts (DIDX, DITI, DIAR), COMT and an
// "ID3 " chunk.
#include "audio/dsdiff_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "audio/channel_order.h"
#include "audio/id3.h"
#include "audio/reader_common.h"
#include "dst/dst_frame_check.h"
#include "platform/error.h"
#include "platform/report.h"

namespace varn {

namespace {

// An "ID3 " chunk may hold pictures; past this it is not read.
constexpr uint64_t kMaxId3Chunk = uint64_t(64) << 20;

struct ChunkHeader {
  char id[4];
  uint64_t size = 0;
  uint64_t data = 0;  // file offset of the chunk's data
};

uint64_t add_sat(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

bool read_chunk_header(InputFile& in, uint64_t at, ChunkHeader& ch) {
  uint8_t h[12];
  if (read_at(in, at, h, 12) != 12) return false;
  std::memcpy(ch.id, h, 4);
  ch.size = get_be64(h + 4);
  ch.data = at + 12;
  return true;
}

bool is_id(const ChunkHeader& ch, const char* id) { return std::memcmp(ch.id, id, 4) == 0; }

// A chunk id for messages: bytes outside printable ASCII shown as '?'.
std::string printable_id(const ChunkHeader& ch) {
  std::string id(ch.id, 4);
  for (char& c : id)
    if (c < 0x20 || c > 0x7E) c = '?';
  return id;
}

// The end of a chunk's data and, for an odd size, its pad byte.
uint64_t end_of(const ChunkHeader& ch) { return add_sat(ch.data, ch.size); }
uint64_t next_after(const ChunkHeader& ch) { return add_sat(end_of(ch), ch.size & 1); }

struct DffScan {
  bool prop_seen = false;
  bool cmpr_dst = false;
  bool have_dsd = false, have_dst = false;
  bool have_id3 = false;
  ChunkHeader dsd, dst, id3;
  std::string diti, diar;  // DIIN title and artist
  std::string channel_ids;  // CHNL: 4 bytes per channel
};

// Title and artist from DIDX text: title, a zero, artist, a zero. Text in
// 16-bit units (after a byte-order mark) is converted to UTF-8 first.
void apply_didx(const std::vector<uint8_t>& d, InputTrack& track) {
  std::string text;
  if (d.size() >= 2 && ((d[0] == 0xFF && d[1] == 0xFE) || (d[0] == 0xFE && d[1] == 0xFF)))
    text = utf16_to_utf8_keep_zeros(d.data(), d.size(), true);
  else
    text.assign(reinterpret_cast<const char*>(d.data()), d.size());
  const size_t z1 = text.find('\0');
  if (z1 == std::string::npos) return;
  const size_t z2 = text.find('\0', z1 + 1);
  if (z2 == std::string::npos) return;
  if (track.title.empty()) track.title = text.substr(0, z1);
  if (track.artist.empty()) track.artist = text.substr(z1 + 1, z2 - z1 - 1);
}

// True when the comments follow the DSDIFF layout exactly: a count, then
// per comment a time stamp (6 bytes), type, reference, a 4-byte length and
// the text with its pad byte. None of its comment types is a genre or date.
bool is_standard_comt(const std::vector<uint8_t>& d) {
  if (d.size() < 2) return false;
  size_t pos = 2;
  for (uint32_t left = get_be16(d.data()); left > 0; --left) {
    if (d.size() - pos < 14) return false;
    const uint64_t n = get_be32(d.data() + pos + 10);
    if (n > d.size() - pos - 14) return false;
    pos += 14 + size_t(n);
    if (n & 1) pos = std::min(pos + 1, d.size());
  }
  return pos == d.size();
}

// Genre (type 3) and date (type 4) from comments written as type, 16-bit
// length and text.
void apply_comt(const std::vector<uint8_t>& d, InputTrack& track) {
  if (is_standard_comt(d)) return;
  size_t pos = 0;
  while (d.size() - pos >= 4) {
    const uint16_t type = get_be16(d.data() + pos);
    const size_t n = get_be16(d.data() + pos + 2);
    if (n == 0 || n > d.size() - pos - 4) break;
    std::string text(reinterpret_cast<const char*>(d.data() + pos + 4), n);
    while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.pop_back();
    if (type == 3 && track.genre.empty()) track.genre = text;
    if (type == 4 && track.date.empty()) track.date = text;
    pos += 4 + n + (n & 1);
    if (pos > d.size()) break;
  }
}

// Reads a whole chunk's data when it lies inside the file.
bool read_chunk_data(InputFile& in, const ChunkHeader& ch, std::vector<uint8_t>& out) {
  if (ch.size > bytes_after(in, ch.data)) return false;
  out.resize(size_t(ch.size));
  return read_at(in, ch.data, out.data(), out.size()) == out.size();
}

// PROP/"SND ": FS, CHNL, CMPR. An error for a refused channel count;
// `snd` false when the property type is not "SND ".
Status read_prop(const std::string& path, InputFile& in, const ChunkHeader& prop, InputTrack& track,
                 DffScan& scan, bool& snd) {
  uint8_t type[4];
  snd = prop.size >= 4 && read_at(in, prop.data, type, 4) == 4 && std::memcmp(type, "SND ", 4) == 0;
  if (!snd) return std::nullopt;
  const uint64_t end = end_of(prop);
  uint64_t at = prop.data + 4;
  ChunkHeader sub;
  while (at <= end && end - at >= 12 && read_chunk_header(in, at, sub)) {
    if (sub.size > end - sub.data) break;  // claims more than the property chunk holds
    uint8_t v[4];
    if (is_id(sub, "FS  ") && sub.size >= 4 && read_at(in, sub.data, v, 4) == 4) {
      const uint32_t rate = get_be32(v);
      if (rate != 0) set_sample_rate(path, track, rate);
    } else if (is_id(sub, "CHNL") && sub.size >= 2 && read_at(in, sub.data, v, 2) == 2) {
      const uint32_t channels = get_be16(v);
      if (channels != 0) {
        if (channels != 2 && channels != 5 && channels != 6) {
          return make_error("  Error: %s: unsupported channels %u\n", path.c_str(), channels);
        }
        // The count is followed by one 4-byte id per channel.
        if (sub.size != 2 + 4 * uint64_t(channels)) {
          return make_error("  Error: %s: CHNL declares %u channels but holds %llu bytes of channel "
                            "ids (%u expected) => corrupt header, refusing to process\n",
                            path.c_str(), channels, (unsigned long long)(sub.size - 2), 4 * channels);
        }
        track.channels = channels;
        std::vector<uint8_t> d;
        if (!read_chunk_data(in, sub, d)) return make_error("  Error: %s: failed to read CHNL\n", path.c_str());
        scan.channel_ids.assign(d.begin() + 2, d.end());
      }
    } else if (is_id(sub, "CMPR") && sub.size >= 4 && read_at(in, sub.data, v, 4) == 4) {
      if (std::memcmp(v, "DST ", 4) == 0) scan.cmpr_dst = true;
    }
    at = next_after(sub);
  }
  scan.prop_seen = true;
  return std::nullopt;
}

// DITI/DIAR text: a 4-byte length, then the text; trailing zeros and
// spaces dropped (writers that keep ASCII only leave a blank for the rest).
std::string counted_text(const std::vector<uint8_t>& d) {
  if (d.size() < 4) return std::string();
  const size_t n = size_t(std::min<uint64_t>(get_be32(d.data()), d.size() - 4));
  std::string text(reinterpret_cast<const char*>(d.data() + 4), n);
  while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.pop_back();
  return text;
}

void read_diin(InputFile& in, const ChunkHeader& diin, InputTrack& track, DffScan& scan) {
  const uint64_t end = end_of(diin);
  uint64_t at = diin.data;
  ChunkHeader sub;
  while (at <= end && end - at >= 12 && read_chunk_header(in, at, sub)) {
    if (sub.size > end - sub.data) break;  // claims more than DIIN holds
    if (is_id(sub, "DIDX") && sub.size >= 1 && sub.size <= 65535) {
      std::vector<uint8_t> d;
      if (read_chunk_data(in, sub, d)) apply_didx(d, track);
    } else if ((is_id(sub, "DITI") || is_id(sub, "DIAR")) && sub.size <= 65535) {
      std::vector<uint8_t> d;
      std::string& text = is_id(sub, "DITI") ? scan.diti : scan.diar;
      if (text.empty() && read_chunk_data(in, sub, d)) text = counted_text(d);
    }
    at = next_after(sub);
  }
}

// Where the DST frames of the "DST " chunk lie; the frames stay in the
// file and are passed through unchanged. FRTE (frame count) and DSTC
// (per-frame CRC) chunks and any other chunk between the frames are
// skipped. An error when the chunk is cut short or its frames contradict
// FRTE. Memory grows with the frames actually held in the file, never with
// a declared count.
Status read_dst_frames(const char* p, InputFile& in, const ChunkHeader& dst, InputTrack& track) {
  using ull = unsigned long long;
  std::vector<DstFrameRef>& frames = track.dst_frames.frames;
  const uint64_t end = dst.data + dst.size;
  uint64_t at = dst.data;
  bool have_frte = false;
  uint32_t frte_frames = 0;
  ChunkHeader sub;
  while (end - at >= 12) {
    if (!read_chunk_header(in, at, sub)) {
      return make_error("  Error: %s: failed to read DST data\n", p);
    }
    if (sub.size > end - sub.data) {
      return make_error("  Error: %s: DST chunk entry '%s' at byte %llu (after frame %zu) declares %llu "
                        "bytes, more than the DST chunk holds => truncated or corrupt file\n",
                        p, printable_id(sub).c_str(), (ull)at, frames.size(), (ull)sub.size);
    }
    if (is_id(sub, "DSTF")) {
      if (sub.size > bytes_after(in, sub.data)) return make_error("  Error: %s: failed to read DST data\n", p);
      // A length past 32 bits is no frame; the check refuses it as too large.
      frames.push_back(DstFrameRef{sub.data, uint32_t(std::min<uint64_t>(sub.size, UINT32_MAX))});
    } else if (is_id(sub, "FRTE") && sub.size >= 4) {
      uint8_t v[4];
      if (read_at(in, sub.data, v, 4) == 4) {
        have_frte = true;
        frte_frames = get_be32(v);
      }
    }
    at = next_after(sub);
    if (at >= end) break;
  }
  if (frames.empty()) {
    return make_error("  Error: %s: the DST chunk holds no frames\n", p);
  }
  if (have_frte && frte_frames != frames.size()) {
    return make_error("  Error: %s: FRTE declares %u DST frames, but the DST chunk holds %zu => "
                      "truncated file or header mismatch, refusing to process\n",
                      p, frte_frames, frames.size());
  }
  track.dst_frames.path = p;
  return std::nullopt;
}

// Every frame decodes with the track's channel count and frame size. The
// frames are read a batch at a time, so that memory stays bounded by the
// batch.
Status check_dst_frames(const char* p, InputFile& in, const InputTrack& track) {
  const uint32_t m = track.rate_multiple;
  if ((m != 64 && m != 128 && m != 256) || track.sample_rate != m * base_rate_of(track.sample_rate)) {
    return make_error("  Error: %s: DST-coded audio at %u Hz cannot be decoded (64, 128 or 256 times "
                      "44100 or 48000 Hz only)\n",
                      p, track.sample_rate);
  }
  constexpr uint64_t kBatchBytes = uint64_t(16) << 20;
  const std::vector<DstFrameRef>& frames = track.dst_frames.frames;
  const size_t bpc = track.sample_rate / 600;
  // More than this marks a frame as too large without reading the rest.
  const uint64_t most = uint64_t(bpc) * track.channels + 2;
  std::vector<DstFrame> batch;
  for (size_t first = 0; first < frames.size();) {
    batch.clear();
    uint64_t held = 0;
    while (first + batch.size() < frames.size() && held < kBatchBytes) {
      const DstFrameRef& ref = frames[first + batch.size()];
      DstFrame f(size_t(std::min<uint64_t>(ref.length, most)));
      if (read_at(in, ref.offset, f.data(), f.size()) != f.size())
        return make_error("  Error: %s: failed to read DST data\n", p);
      held += f.size();
      batch.push_back(std::move(f));
    }
    DstFrameFault fault;
    if (!dst_check_frames(batch, int(track.channels), bpc, 0, fault))
      return make_error("  Error: %s: DST frame %zu of %zu cannot be used (%s) => corrupt file or wrong "
                        "channel count, refusing to process\n",
                        p, first + fault.index + 1, frames.size(), fault.error.c_str());
    first += batch.size();
  }
  return std::nullopt;
}

// Texts from the first "ID3 " chunk.
void read_id3_chunk(InputFile& in, const ChunkHeader& ch, InputTrack& track) {
  std::vector<uint8_t> tag;
  if (ch.size <= kMaxId3Chunk && read_chunk_data(in, ch, tag) && tag.size() >= 11 &&
      std::memcmp(tag.data(), "ID3", 3) == 0)
    apply_id3_texts(parse_id3(tag.data(), tag.size()), track);
}

// Plain DSD data holds one byte per channel for every 8 samples.
Status dsd_size_fits(const char* p, const ChunkHeader& dsd, uint32_t channels) {
  if (dsd.size != 0 && dsd.size % channels == 0) return std::nullopt;
  return make_error("  Error: %s: the DSD chunk holds %llu bytes, not a whole number of samples for %u "
                    "channels => corrupt header, refusing to process\n",
                    p, (unsigned long long)dsd.size, channels);
}

// The file channel for each channel of the area, from the CHNL ids; empty
// when the file is in area order already or its ids do not name the
// area's speakers (numbered ids say nothing of the layout: the file's own
// order is kept). DST frames cannot be reordered without decoding them.
Status area_order(const char* p, const DffScan& scan, const InputTrack& track, bool dst,
                  std::vector<uint8_t>& from) {
  const std::string ids = channel_id_text(scan.channel_ids);
  if (!area_channel_order(scan.channel_ids, track.channels, from)) {
    from.clear();
    if (ids_name_speakers(scan.channel_ids))
      report_error("  Warning: %s: the channels %s are not the speakers of an SACD %u-channel area; they are "
                   "kept in file order\n",
                   p, ids.c_str(), track.channels);
    return std::nullopt;
  }
  bool same = true;
  for (size_t c = 0; c < from.size(); ++c) same = same && from[c] == c;
  if (same) {
    from.clear();
    return std::nullopt;
  }
  std::string area_ids;
  for (uint8_t f : from) area_ids += scan.channel_ids.substr(4 * size_t(f), 4);
  if (dst)
    return make_error("  Error: %s: the DST-coded channels are stored as %s, but an SACD area carries them as "
                      "%s, and DST frames cannot be reordered => re-export the file in that order, refusing "
                      "to process\n",
                      p, ids.c_str(), channel_id_text(area_ids).c_str());
  report_note("  [DFF] %s: channels stored as %s, put in SACD order %s\n", p, ids.c_str(),
              channel_id_text(area_ids).c_str());
  return std::nullopt;
}

Error fail(InputFile& in, InputTrack& track, Error error) {
  in.close();
  clear_failed_track(track);
  return error;
}

}  // namespace

Status read_dsdiff(const std::string& path, InputTrack& track, bool leave_audio_in_file) {
  const char* p = path.c_str();
  InputFile in;
  if (!open_input(path, in)) {
    return make_error("  Error: cannot open %s\n", p);
  }
  uint8_t form[16];
  if (read_at(in, 0, form, 16) != 16 || std::memcmp(form, "FRM8", 4) != 0 ||
      std::memcmp(form + 12, "DSD ", 4) != 0) {
    return fail(in, track, make_error("  Error: %s: not a DSDIFF file (bad FRM8 magic or form type)\n", p));
  }
  const uint64_t frm8_end = add_sat(get_be64(form + 4), 12);
  if (frm8_end > in.size) {
    return fail(in, track,
                make_error("  Error: %s: FRM8 declares %llu bytes, but the file holds only %llu => truncated "
                           "file, refusing to process\n",
                           p, (unsigned long long)frm8_end, (unsigned long long)in.size));
  }

  DffScan scan;
  ChunkHeader ch;
  if (!read_chunk_header(in, 16, ch)) {
    return fail(in, track, make_error("  Error: %s: PROP/SND chunk not found\n", p));
  }
  for (;;) {
    // Every chunk of the form lies inside it: a chunk that claims more is
    // cut short or not a chunk at all (a size field that does not describe
    // its data).
    if (end_of(ch) > frm8_end) {
      return fail(in, track,
                  make_error("  Error: %s: chunk '%s' at byte %llu declares %llu bytes, more than the FRM8 "
                             "form holds => truncated or corrupt file, refusing to process\n",
                             p, printable_id(ch).c_str(), (unsigned long long)(ch.data - 12),
                             (unsigned long long)ch.size));
    }
    uint64_t next = next_after(ch);
    if (is_id(ch, "PROP")) {
      bool snd = false;
      if (Status e = read_prop(path, in, ch, track, scan, snd)) return fail(in, track, std::move(*e));
      if (!snd) break;
      next = end_of(ch);
    } else if (is_id(ch, "DSD ")) {
      // Checked at once: a wrong size would make the audio bytes after it
      // look like chunks.
      if (track.channels != 0) {
        if (Status e = dsd_size_fits(p, ch, track.channels)) return fail(in, track, std::move(*e));
      }
      scan.have_dsd = true;
      scan.dsd = ch;
    } else if (is_id(ch, "DST ")) {
      scan.have_dst = true;
      scan.dst = ch;
    } else if (is_id(ch, "DIIN")) {
      read_diin(in, ch, track, scan);
    } else if (is_id(ch, "ID3 ") || is_id(ch, "id3 ")) {
      if (!scan.have_id3) {
        scan.have_id3 = true;
        scan.id3 = ch;
      }
    } else if (is_id(ch, "COMT")) {
      std::vector<uint8_t> d;
      if (ch.size >= 1 && ch.size <= 65535 && read_chunk_data(in, ch, d)) apply_comt(d, track);
    }
    if (next >= frm8_end || frm8_end - next < 12 || !read_chunk_header(in, next, ch)) {
      if (scan.prop_seen) break;
      return fail(in, track, make_error("  Error: %s: PROP/SND chunk not found\n", p));
    }
  }

  if (!scan.have_dsd && !scan.have_dst) {
    return fail(in, track, make_error("  Error: %s: DSD/DST data chunk not found\n", p));
  }
  if (track.channels == 0) {
    return fail(in, track, make_error("  Error: %s: malformed DSDIFF (no CHNL channel info)\n", p));
  }
  if (track.sample_rate < 600) {
    return fail(in, track, make_error("  Error: %s: malformed DSDIFF (bad FS sample rate %u)\n", p,
                                      track.sample_rate));
  }

  std::vector<uint8_t> from;
  if (Status e = area_order(p, scan, track, scan.have_dst, from)) return fail(in, track, std::move(*e));
  if (scan.have_dst) {
    track.is_dst = true;
    if (Status e = read_dst_frames(p, in, scan.dst, track)) return fail(in, track, std::move(*e));
    if (Status e = check_dst_frames(p, in, track)) return fail(in, track, std::move(*e));
    // The frames are the audio: no plain stand-in is kept.
    track.sample_count = uint64_t(dst_frame_count(track.dst_frames)) * (track.sample_rate / 75);
  } else {
    if (scan.cmpr_dst)
      report_error("  Warning: %s: CMPR says DST but the file holds plain DSD data; reading it as "
                   "plain DSD\n",
                   p);
    const ChunkHeader& dsd = scan.dsd;
    if (dsd.size > bytes_after(in, dsd.data)) {
      return fail(in, track, make_error("  Error: %s: failed to read DSD data\n", p));
    }
    if (Status e = dsd_size_fits(p, dsd, track.channels)) return fail(in, track, std::move(*e));
    track.sample_count = dsd.size * 8 / track.channels;
    if (leave_audio_in_file) {
      track.source = PlainSource{path, dsd.data, dsd.size, dsd.size / track.channels, 0, false, from};
      note_padding(track, dsd.size);
    } else {
      track.audio.reserve(size_t(padded_to_sacd_frames(dsd.size, track.channels, track.sample_rate)));
      track.audio.resize(size_t(dsd.size));
      if (read_at(in, dsd.data, track.audio.data(), track.audio.size()) != track.audio.size()) {
        return fail(in, track, make_error("  Error: %s: failed to read DSD data\n", p));
      }
      reorder_channels(track.audio.data(), track.audio.size(), from);
      // Whole SACD frames, like DSF input: the audio writer takes frames only.
      pad_to_sacd_frames(track);
    }
  }

  // The tag, with its complete texts, ranks above DITI/DIAR, which many
  // writers fill with plain ASCII only.
  if (track.title.empty() && track.artist.empty() && scan.have_id3)
    read_id3_chunk(in, scan.id3, track);
  if (track.title.empty()) track.title = scan.diti;
  if (track.artist.empty()) track.artist = scan.diar;

  in.close();
  report_note("  [DFF] %s  %uch  %llu samples  %s - %s\n", p, track.channels,
              (unsigned long long)track.sample_count, track.artist.c_str(), track.title.c_str());
  return std::nullopt;
}

}  // namespace varn
