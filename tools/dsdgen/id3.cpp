// ID3v2.3 / ID3v2.4 tag builder: text frames, APIC pictures, raw frames.
#include <cstdint>
#include <string>
#include <vector>

#include "dsdgen/dsdgen.h"

namespace dsdgen {
namespace {

void put_be32(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v >> 24));
  out.push_back(uint8_t(v >> 16));
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}

void put_syncsafe(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t((v >> 21) & 0x7F));
  out.push_back(uint8_t((v >> 14) & 0x7F));
  out.push_back(uint8_t((v >> 7) & 0x7F));
  out.push_back(uint8_t(v & 0x7F));
}

void put_frame(std::vector<uint8_t>& out, int version, const std::string& id,
               const std::vector<uint8_t>& body) {
  for (int i = 0; i < 4; ++i) out.push_back(i < int(id.size()) ? uint8_t(id[i]) : uint8_t(' '));
  if (version == 4)
    put_syncsafe(out, uint32_t(body.size()));
  else
    put_be32(out, uint32_t(body.size()));
  out.push_back(0);
  out.push_back(0);
  out.insert(out.end(), body.begin(), body.end());
}

void put_text_frame(std::vector<uint8_t>& out, const Id3Tags& t, const std::string& id,
                    const std::string& text) {
  if (text.empty()) return;
  std::vector<uint8_t> body;
  if (t.utf16) {
    body.push_back(1);
    if (t.utf16_big_endian) {
      body.push_back(0xFE);
      body.push_back(0xFF);
    } else {
      body.push_back(0xFF);
      body.push_back(0xFE);
    }
    std::vector<uint8_t> units = utf8_to_utf16_bytes(text, t.utf16_big_endian);
    body.insert(body.end(), units.begin(), units.end());
  } else {
    // Version 4 declares the bytes UTF-8 (3); version 3 as ISO-8859-1 (0).
    body.push_back(t.version == 4 ? 3 : 0);
    body.insert(body.end(), text.begin(), text.end());
  }
  put_frame(out, t.version, id, body);
}

void put_picture(std::vector<uint8_t>& out, int version, const std::vector<uint8_t>& data,
                 int type, const std::string& mime, const std::string& description) {
  std::vector<uint8_t> body;
  body.push_back(0);  // ISO-8859-1 description
  body.insert(body.end(), mime.begin(), mime.end());
  body.push_back(0);
  body.push_back(uint8_t(type));
  body.insert(body.end(), description.begin(), description.end());
  body.push_back(0);
  body.insert(body.end(), data.begin(), data.end());
  put_frame(out, version, "APIC", body);
}

}  // namespace

std::vector<uint8_t> utf8_to_utf16_bytes(const std::string& text, bool big_endian) {
  std::vector<uint8_t> out;
  auto unit = [&](uint32_t u) {
    if (big_endian) {
      out.push_back(uint8_t(u >> 8));
      out.push_back(uint8_t(u));
    } else {
      out.push_back(uint8_t(u));
      out.push_back(uint8_t(u >> 8));
    }
  };
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size(), i = 0;
  while (i < n) {
    uint32_t c = s[i];
    size_t len = 1;
    if (c >= 0xF0) {
      len = 4;
      c &= 0x07;
    } else if (c >= 0xE0) {
      len = 3;
      c &= 0x0F;
    } else if (c >= 0xC0) {
      len = 2;
      c &= 0x1F;
    }
    if (i + len > n) len = 1;  // cut sequence: take the byte as it is
    for (size_t k = 1; k < len; ++k) c = (c << 6) | (s[i + k] & 0x3F);
    if (len == 1) c = s[i];
    i += len;
    if (c >= 0x10000) {
      c -= 0x10000;
      unit(0xD800 | (c >> 10));
      unit(0xDC00 | (c & 0x3FF));
    } else {
      unit(c);
    }
  }
  return out;
}

std::vector<uint8_t> build_id3(const Id3Tags& t) {
  const int version = (t.version == 4) ? 4 : 3;
  std::vector<uint8_t> frames;
  auto pictures = [&]() {
    if (!t.picture.empty()) put_picture(frames, version, t.picture, t.picture_type, t.picture_mime, "");
    for (const Id3Picture& p : t.more_pictures)
      put_picture(frames, version, p.data, p.type, p.mime, p.description);
  };
  if (t.picture_first) pictures();
  Id3Tags tv = t;
  tv.version = version;
  put_text_frame(frames, tv, "TIT2", t.title);
  put_text_frame(frames, tv, "TPE1", t.artist);
  put_text_frame(frames, tv, "TALB", t.album);
  put_text_frame(frames, tv, "TCON", t.genre);
  put_text_frame(frames, tv, "TDRC", t.date);
  put_text_frame(frames, tv, "TRCK", t.track);
  if (!t.picture_first) pictures();
  for (const Id3RawFrame& f : t.raw_frames) put_frame(frames, version, f.id, f.body);
  frames.insert(frames.end(), t.padding, 0);

  std::vector<uint8_t> tag = {'I', 'D', '3', uint8_t(version), 0, 0};
  put_syncsafe(tag, uint32_t(frames.size()));
  tag.insert(tag.end(), frames.begin(), frames.end());
  return tag;
}

}  // namespace dsdgen
