// DSDIFF writer: FRM8/"DSD " form with FVER, PROP/"SND " (FS, CHNL, CMPR,
// ABSS), a "DSD " chunk or a "DST " chunk (FRTE + DSTF per frame, optional
// DSTC), DIIN/DIDX, COMT (genre type 3, date type 4) and an "ID3 " chunk.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dsdgen/dsdgen.h"

namespace dsdgen {
namespace {

void put_be(std::vector<uint8_t>& out, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}

void put_id(std::vector<uint8_t>& out, const std::string& id) {
  for (int i = 0; i < 4; ++i) out.push_back(i < int(id.size()) ? uint8_t(id[i]) : uint8_t(' '));
}

// Chunk header, data and the pad byte of an odd size.
void put_chunk(std::vector<uint8_t>& out, const std::string& id, const std::vector<uint8_t>& data) {
  put_id(out, id);
  put_be(out, data.size(), 8);
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() & 1) out.push_back(0);
}

std::vector<uint8_t> channel_ids(uint32_t channels) {
  static const char* const stereo[] = {"SLFT", "SRGT"};
  // The speakers of an SACD area, in its order.
  static const char* const five[] = {"MLFT", "MRGT", "C   ", "LS  ", "RS  "};
  static const char* const six[] = {"MLFT", "MRGT", "C   ", "LFE ", "LS  ", "RS  "};
  std::vector<uint8_t> out;
  put_be(out, channels, 2);
  for (uint32_t c = 0; c < channels; ++c) {
    if (channels == 2) {
      put_id(out, stereo[c]);
    } else if (channels <= 6) {
      put_id(out, channels == 5 ? five[c] : six[c]);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "C%03u", c % 1000);
      put_id(out, buf);
    }
  }
  return out;
}

std::vector<uint8_t> compression(bool dst) {
  std::vector<uint8_t> out;
  const std::string name = dst ? "DST Encoded" : "not compressed";
  put_id(out, dst ? "DST " : "DSD ");
  out.push_back(uint8_t(name.size()));
  out.insert(out.end(), name.begin(), name.end());
  if ((1 + name.size()) & 1) out.push_back(0);
  return out;
}

std::vector<uint8_t> didx_data(const DffOptions& o) {
  if (!o.didx_raw.empty()) return o.didx_raw;
  std::string text = o.didx_title;
  text.push_back('\0');
  text += o.didx_artist;
  text.push_back('\0');
  if (!o.didx_utf16) return std::vector<uint8_t>(text.begin(), text.end());
  std::vector<uint8_t> out = {0xFF, 0xFE};
  std::vector<uint8_t> units = utf8_to_utf16_bytes(text, false);
  out.insert(out.end(), units.begin(), units.end());
  return out;
}

void put_comment(std::vector<uint8_t>& out, uint16_t type, const std::string& text) {
  put_be(out, type, 2);
  put_be(out, text.size(), 2);
  out.insert(out.end(), text.begin(), text.end());
  if (text.size() & 1) out.push_back(0);
}

// Everything before the sound data and everything after it; the sound data
// (the payload, for a plain file) goes between them.
void build_parts(uint32_t channels, uint32_t sample_rate, uint64_t payload_size,
                 const DffOptions& o, std::vector<uint8_t>& head, std::vector<uint8_t>& tail) {
  const bool dst = !o.dst_frames.empty();
  std::vector<uint8_t> prop;
  put_id(prop, "SND ");
  if (o.write_fs) {
    std::vector<uint8_t> fs;
    put_be(fs, sample_rate, 4);
    put_chunk(prop, "FS  ", fs);
  }
  if (o.write_chnl) put_chunk(prop, "CHNL", channel_ids(channels));
  if (o.write_cmpr) put_chunk(prop, "CMPR", compression(dst || o.cmpr_dst));
  put_chunk(prop, "ABSS", {0, 0, 0, 0, 0, 0, 0, 0});
  for (const DffRawChunk& c : o.prop_extra) put_chunk(prop, c.id, c.data);

  head.clear();
  put_id(head, "FRM8");
  put_be(head, 0, 8);  // fixed below
  put_id(head, "DSD ");
  put_chunk(head, "FVER", {0x01, 0x05, 0x00, 0x00});
  put_chunk(head, "PROP", prop);

  tail.clear();
  if (dst) {
    std::vector<uint8_t> body;
    std::vector<uint8_t> frte;
    put_be(frte, o.dst_frames.size(), 4);
    put_be(frte, 75, 2);
    put_chunk(body, "FRTE", frte);
    for (const std::vector<uint8_t>& fr : o.dst_frames) {
      put_chunk(body, "DSTF", fr);
      if (o.dst_checksums) put_chunk(body, "DSTC", {0, 0, 0, 0});
    }
    put_chunk(head, "DST ", body);
  } else {
    put_id(head, "DSD ");
    put_be(head, payload_size, 8);
    if (payload_size & 1) tail.push_back(0);
  }

  if (!o.didx_title.empty() || !o.didx_artist.empty() || !o.didx_raw.empty()) {
    std::vector<uint8_t> diin;
    std::vector<uint8_t> emid = {'d', 's', 'd', 'g', 'e', 'n'};
    put_chunk(diin, "EMID", emid);
    put_chunk(diin, "DIDX", didx_data(o));
    put_chunk(tail, "DIIN", diin);
  }
  if (!o.comt_genre.empty() || !o.comt_date.empty()) {
    std::vector<uint8_t> comt;
    if (!o.comt_genre.empty()) put_comment(comt, 3, o.comt_genre);
    if (!o.comt_date.empty()) put_comment(comt, 4, o.comt_date);
    put_chunk(tail, "COMT", comt);
  }
  for (const DffRawChunk& c : o.extra_chunks) put_chunk(tail, c.id, c.data);
  if (!o.tags.empty()) put_chunk(tail, "ID3 ", build_id3(o.tags));

  const uint64_t sound = dst ? 0 : payload_size;
  const uint64_t frm8 = head.size() + sound + tail.size() - 12;
  for (int i = 0; i < 8; ++i) head[4 + i] = uint8_t(frm8 >> (8 * (7 - i)));
}

}  // namespace

std::vector<uint8_t> build_dsdiff(uint32_t channels, uint32_t sample_rate,
                                  const std::vector<uint8_t>& payload, const DffOptions& opt) {
  std::vector<uint8_t> head, tail;
  const bool dst = !opt.dst_frames.empty();
  build_parts(channels, sample_rate, payload.size(), opt, head, tail);
  std::vector<uint8_t> out = std::move(head);
  if (!dst) out.insert(out.end(), payload.begin(), payload.end());
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

bool write_dsdiff(const std::string& path, uint32_t channels, uint32_t sample_rate,
                  const std::vector<uint8_t>& payload, const DffOptions& opt) {
  std::vector<uint8_t> head, tail;
  const bool dst = !opt.dst_frames.empty();
  build_parts(channels, sample_rate, payload.size(), opt, head, tail);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "dsdgen: cannot create %s\n", path.c_str());
    return false;
  }
  bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();
  if (ok && !dst && !payload.empty())
    ok = std::fwrite(payload.data(), 1, payload.size(), f) == payload.size();
  if (ok && !tail.empty()) ok = std::fwrite(tail.data(), 1, tail.size(), f) == tail.size();
  if (std::fclose(f) != 0) ok = false;
  if (!ok) std::fprintf(stderr, "dsdgen: write failed: %s\n", path.c_str());
  return ok;
}

}  // namespace dsdgen
