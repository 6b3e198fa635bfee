#include "audio/id3.h"

#include <cstring>

namespace varn {

namespace {

// The UTF-8 form of one 16-bit unit.
void append_unit(std::string& out, uint32_t u) {
  if (u < 0x80) {
    out.push_back(char(u));
  } else if (u < 0x800) {
    out.push_back(char(0xC0 | (u >> 6)));
    out.push_back(char(0x80 | (u & 0x3F)));
  } else {
    out.push_back(char(0xE0 | (u >> 12)));
    out.push_back(char(0x80 | ((u >> 6) & 0x3F)));
    out.push_back(char(0x80 | (u & 0x3F)));
  }
}

std::string convert_utf16(const uint8_t* p, size_t n, bool little_endian, bool stop_at_zero) {
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
  out.reserve((n - i) / 2);
  for (; i + 1 < n; i += 2) {
    const uint32_t u = little_endian ? (uint32_t(p[i + 1]) << 8) | p[i] : (uint32_t(p[i]) << 8) | p[i + 1];
    if (u == 0 && stop_at_zero) break;
    append_unit(out, u);
  }
  return out;
}

// One frame header inside the tag.
struct FrameHeader {
  const uint8_t* id;
  uint64_t size;
};

FrameHeader frame_header(const uint8_t* tag, size_t pos) {
  const uint8_t* h = tag + pos;
  uint64_t size;
  if (tag[3] == 4)
    size = (uint64_t(h[4] & 0x7F) << 21) | (uint64_t(h[5] & 0x7F) << 14) |
           (uint64_t(h[6] & 0x7F) << 7) | uint64_t(h[7] & 0x7F);
  else
    size = (uint64_t(h[4]) << 24) | (uint64_t(h[5]) << 16) | (uint64_t(h[6]) << 8) | uint64_t(h[7]);
  return {h, size};
}

}  // namespace

std::string utf16_to_utf8(const uint8_t* bytes, size_t length, bool little_endian) {
  return convert_utf16(bytes, length, little_endian, true);
}

std::string utf16_to_utf8_keep_zeros(const uint8_t* bytes, size_t length, bool little_endian) {
  return convert_utf16(bytes, length, little_endian, false);
}

std::string find_id3_text(const uint8_t* tag, size_t tag_size, const char* frame_id) {
  if (!tag || tag_size < 20) return std::string();
  uint64_t pos = 10;
  while (tag_size - pos >= 10) {
    const FrameHeader fh = frame_header(tag, size_t(pos));
    if (std::memcmp(fh.id, frame_id, 4) != 0) {
      pos += fh.size + 10;
      if (pos > tag_size) return std::string();
      continue;
    }
    if (fh.size == 0) {
      pos += 10;
      continue;
    }
    // A frame that claims more bytes than the tag holds is not read.
    if (fh.size > tag_size - pos - 10) return std::string();
    const uint8_t* body = fh.id + 10;
    const size_t text_size = size_t(fh.size - 1);
    switch (body[0]) {
      case 0:
      case 3:
        return std::string(reinterpret_cast<const char*>(body + 1), text_size);
      case 1:
      case 2:
        return utf16_to_utf8(body + 1, text_size, false);
      default:
        return std::string();
    }
  }
  return std::string();
}

std::vector<uint8_t> find_id3_picture(const uint8_t* tag, size_t tag_size) {
  std::vector<uint8_t> result;
  if (!tag || tag_size < 20) return result;
  bool have = false;
  uint64_t pos = 10;
  while (tag_size - pos >= 10) {
    const FrameHeader fh = frame_header(tag, size_t(pos));
    const uint64_t next = pos + 10 + fh.size;
    if (std::memcmp(fh.id, "APIC", 4) != 0) {
      if (next > tag_size) break;
      pos = next;
      continue;
    }
    if (fh.size > tag_size - pos - 10) break;  // runs past the tag: not read
    pos = next;
    if (fh.size < 5) continue;
    const uint8_t* b = fh.id + 10;
    const size_t n = size_t(fh.size);
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

}  // namespace varn
