#include "audio/id3.h"
#include "audio/reader_common.h"

#include <cstring>

namespace varn {

namespace {

void append_code_point(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(char(c));
  } else if (c < 0x800) {
    out.push_back(char(0xC0 | (c >> 6)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(char(0xE0 | (c >> 12)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (c >> 18)));
    out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  }
}

// UTF-16 to UTF-8. A byte-order mark at the start sets `little_endian`,
// which then stays set for the caller's next piece of the same frame.
std::string convert_utf16(const uint8_t* p, size_t n, bool& little_endian, bool stop_at_zero) {
  std::string out;
  size_t i = 0;
  if (n >= 2) {
    if (p[0] == 0xFF && p[1] == 0xFE) {
      little_endian = true;
      i = 2;
    } else if (p[0] == 0xFE && p[1] == 0xFF) {
      little_endian = false;
      i = 2;
    }
  }
  auto unit = [&](size_t at) -> uint32_t {
    return little_endian ? (uint32_t(p[at + 1]) << 8) | p[at] : (uint32_t(p[at]) << 8) | p[at + 1];
  };
  out.reserve((n - i) / 2);
  for (; i + 1 < n; i += 2) {
    uint32_t u = unit(i);
    if (u == 0 && stop_at_zero) break;
    if (u >= 0xD800 && u <= 0xDFFF) {
      const uint32_t low = i + 3 < n ? unit(i + 2) : 0;
      if (u <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      } else {
        u = 0xFFFD;
      }
    }
    append_code_point(out, u);
  }
  return out;
}

// True when the bytes hold a non-ASCII character and form valid UTF-8.
bool is_non_ascii_utf8(const uint8_t* p, size_t n) {
  bool non_ascii = false;
  for (size_t i = 0; i < n;) {
    const uint8_t b = p[i];
    size_t len;
    if (b < 0x80) len = 1;
    else if (b >= 0xC2 && b <= 0xDF) len = 2;
    else if (b >= 0xE0 && b <= 0xEF) len = 3;
    else if (b >= 0xF0 && b <= 0xF4) len = 4;
    else return false;
    if (len > n - i) return false;
    for (size_t k = 1; k < len; ++k)
      if ((p[i + k] & 0xC0) != 0x80) return false;
    non_ascii |= len > 1;
    i += len;
  }
  return non_ascii;
}

// ISO-8859-1 to UTF-8. Some taggers store UTF-8 while declaring ISO-8859-1;
// such bytes are kept, since real Latin-1 text practically never reads as
// valid multi-byte UTF-8.
std::string latin1_to_utf8(const uint8_t* p, size_t n) {
  if (is_non_ascii_utf8(p, n)) return std::string(reinterpret_cast<const char*>(p), n);
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) append_code_point(out, p[i]);
  return out;
}

// The text of a frame body: its values (split at zero terminators) decoded
// and joined with " / "; empty values are left out.
std::string frame_text(const std::vector<uint8_t>& b) {
  const uint8_t encoding = b[0];
  const size_t n = b.size();
  std::string out;
  auto add = [&out](std::string value) {
    if (value.empty()) return;
    if (!out.empty()) out += " / ";
    out += value;
  };
  if (encoding == 0 || encoding == 3) {
    size_t start = 1;
    for (size_t i = 1; i <= n; ++i) {
      if (i < n && b[i] != 0) continue;
      const uint8_t* v = b.data() + start;
      add(encoding == 0 ? latin1_to_utf8(v, i - start)
                        : std::string(reinterpret_cast<const char*>(v), i - start));
      start = i + 1;
    }
  } else if (encoding == 1 || encoding == 2) {
    bool little_endian = false;
    size_t start = 1;
    for (size_t i = 1;; i += 2) {
      const bool last = i + 1 >= n;
      if (!last && (b[i] != 0 || b[i + 1] != 0)) continue;
      add(convert_utf16(b.data() + start, (last ? n : i) - start, little_endian, false));
      if (last) break;
      start = i + 2;
    }
  }
  return out;
}

uint32_t syncsafe32(const uint8_t* p) {
  return (uint32_t(p[0] & 0x7F) << 21) | (uint32_t(p[1] & 0x7F) << 14) |
         (uint32_t(p[2] & 0x7F) << 7) | uint32_t(p[3] & 0x7F);
}

// Undoes unsynchronisation: every 00 that follows an FF is dropped.
std::vector<uint8_t> resynchronised(const uint8_t* p, size_t n) {
  std::vector<uint8_t> out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    out.push_back(p[i]);
    if (p[i] == 0xFF && i + 1 < n && p[i + 1] == 0) ++i;
  }
  return out;
}

// The later names of the ID3v2.2 frames this system reads.
const char* v22_name(const uint8_t* id) {
  static const char* const names[][2] = {{"TT2", "TIT2"}, {"TP1", "TPE1"}, {"TAL", "TALB"},
                                         {"TCO", "TCON"}, {"TYE", "TYER"}, {"TRK", "TRCK"},
                                         {"PIC", "APIC"}};
  for (const auto& n : names)
    if (std::memcmp(id, n[0], 3) == 0) return n[1];
  return nullptr;
}

}  // namespace

std::string utf16_to_utf8(const uint8_t* bytes, size_t length, bool little_endian) {
  return convert_utf16(bytes, length, little_endian, true);
}

std::string utf16_to_utf8_keep_zeros(const uint8_t* bytes, size_t length, bool little_endian) {
  return convert_utf16(bytes, length, little_endian, false);
}

Id3Tag parse_id3(const uint8_t* tag, size_t tag_size) {
  Id3Tag out;
  if (!tag || tag_size < 20) return out;
  const uint8_t version = tag[3], flags = tag[5];
  const bool v22 = version == 2, v24 = version == 4;
  if (v22 && (flags & 0x40)) return out;  // ID3v2.2 compression: no scheme is defined

  // Before ID3v2.4 unsynchronisation covers the whole tag; from then on
  // each frame, with the tag's flag standing for all of them.
  const bool tag_unsync = (flags & 0x80) != 0;
  std::vector<uint8_t> whole;
  const uint8_t* p = tag + 10;
  size_t n = tag_size - 10;
  if (tag_unsync && !v24) {
    whole = resynchronised(p, n);
    p = whole.data();
    n = whole.size();
  }

  size_t pos = 0;
  if (!v22 && (flags & 0x40)) {  // extended header
    if (n < 4) return out;
    const uint64_t ext = v24 ? syncsafe32(p) : 4 + uint64_t(get_be32(p));
    if (ext < 4 || ext > n) return out;
    pos = size_t(ext);
  }

  const size_t header = v22 ? 6 : 10;
  while (n - pos >= header) {
    const uint8_t* h = p + pos;
    if (h[0] == 0) break;  // padding
    const uint64_t size = v22 ? (uint64_t(h[3]) << 16) | (uint64_t(h[4]) << 8) | h[5]
                        : v24 ? syncsafe32(h + 4)
                              : get_be32(h + 4);
    if (size > n - pos - header) break;  // runs past the tag: not read
    const uint8_t* body = h + header;
    size_t body_size = size_t(size);
    pos += header + body_size;

    Id3Frame f;
    if (v22) {
      const char* name = v22_name(h);
      f.id = name ? name : std::string(reinterpret_cast<const char*>(h), 3);
    } else {
      f.id.assign(reinterpret_cast<const char*>(h), 4);
    }
    bool unsync = false;
    if (v24) {
      const uint8_t fl = h[9];
      if (fl & 0x0C) continue;  // compressed or encrypted
      const size_t extra = ((fl & 0x40) ? 1 : 0) + ((fl & 0x01) ? 4 : 0);
      if (extra > body_size) continue;
      body += extra;
      body_size -= extra;
      unsync = (fl & 0x02) || tag_unsync;
    } else if (!v22) {
      const uint8_t fl = h[9];
      if (fl & 0xC0) continue;  // compressed or encrypted
      if (fl & 0x20) {          // grouping identity
        if (body_size < 1) continue;
        ++body;
        --body_size;
      }
    }
    if (unsync) f.body = resynchronised(body, body_size);
    else f.body.assign(body, body + body_size);
    if (v22 && f.id == "APIC" && f.body.size() >= 4) {
      // PIC holds a three-letter image format where APIC has a MIME type.
      f.body.erase(f.body.begin() + 1, f.body.begin() + 4);
      f.body.insert(f.body.begin() + 1, 0);
    }
    out.frames.push_back(std::move(f));
  }
  return out;
}

std::string id3_text(const Id3Tag& tag, const char* frame_id) {
  for (const Id3Frame& f : tag.frames)
    if (!f.body.empty() && f.id == frame_id) return frame_text(f.body);
  return std::string();
}

std::vector<uint8_t> id3_picture(const Id3Tag& tag) {
  std::vector<uint8_t> result;
  bool have = false;
  for (const Id3Frame& f : tag.frames) {
    if (f.id != "APIC" || f.body.size() < 5) continue;
    const uint8_t* b = f.body.data();
    const size_t n = f.body.size();
    const uint8_t encoding = b[0];
    size_t i = 1;
    while (i < n && b[i] != 0) ++i;  // MIME type
    if (i >= n) continue;
    ++i;
    if (i >= n) continue;
    const uint8_t type = b[i++];
    bool terminated = false;
    if (encoding == 1 || encoding == 2) {
      for (; i + 1 < n; i += 2) {
        if (b[i] == 0 && b[i + 1] == 0) {
          i += 2;
          terminated = true;
          break;
        }
      }
    } else {
      for (; i < n; ++i) {
        if (b[i] == 0) {
          ++i;
          terminated = true;
          break;
        }
      }
    }
    if (!terminated) continue;
    if (type == 3) return std::vector<uint8_t>(b + i, b + n);
    if (!have) {
      result.assign(b + i, b + n);
      have = true;
    }
  }
  return result;
}

std::string find_id3_text(const uint8_t* tag, size_t tag_size, const char* frame_id) {
  return id3_text(parse_id3(tag, tag_size), frame_id);
}

std::vector<uint8_t> find_id3_picture(const uint8_t* tag, size_t tag_size) {
  return id3_picture(parse_id3(tag, tag_size));
}

}  // namespace varn
