#include "fs/udf_dstring.h"

namespace varn {

namespace {

// Decodes one UTF-8 character at s[i]; advances i. Anything that is not a
// character of the basic plane becomes '?'.
uint16_t next_ucs2(const std::string& s, size_t& i) {
  auto b = [&](size_t k) { return uint8_t(s[k]); };
  uint8_t lead = b(i);
  size_t need = 0;
  uint32_t value = 0;
  if (lead < 0x80) {
    ++i;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    need = 1;
    value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    need = 2;
    value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    need = 3;
    value = lead & 0x07;
  } else {
    ++i;
    return '?';
  }
  if (i + need >= s.size()) {
    // The sequence runs past the end of the text.
    i = s.size();
    return '?';
  }
  for (size_t k = 1; k <= need; ++k) value = (value << 6) | (b(i + k) & 0x3F);
  i += need + 1;
  if (value >= 0x10000) return '?';
  return uint16_t(value);
}

// Decodes one character at s[i] and advances i; a byte that does not start
// a well-formed UTF-8 sequence is the character of its own value.
uint32_t next_code_point(const std::string& s, size_t& i) {
  static const uint32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};
  const uint8_t lead = uint8_t(s[i]);
  const size_t need = lead >= 0xF0 && lead <= 0xF4 ? 3 : lead >= 0xE0 && lead < 0xF0 ? 2
                      : lead >= 0xC2 && lead < 0xE0 ? 1 : 0;
  uint32_t value = lead & (0x3F >> need);
  bool ok = need != 0 && i + need < s.size();
  for (size_t k = 1; ok && k <= need; ++k) {
    const uint8_t b = uint8_t(s[i + k]);
    ok = (b & 0xC0) == 0x80;
    value = (value << 6) | (b & 0x3F);
  }
  ok = ok && value >= kLeast[need] && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
  if (!ok) {
    ++i;
    return lead;
  }
  i += need + 1;
  return value;
}

size_t utf8_length_at(const std::string& s, size_t i) {
  size_t j = i;
  next_code_point(s, j);
  return j - i;
}

}  // namespace

std::vector<uint8_t> udf_identifier(const std::string& name) {
  std::vector<uint32_t> chars;
  bool narrow = true;
  for (size_t i = 0; i < name.size();) {
    chars.push_back(next_code_point(name, i));
    narrow = narrow && chars.back() <= 0xFF;
  }
  std::vector<uint8_t> out;
  if (narrow) {
    out.push_back(8);
    for (uint32_t c : chars) out.push_back(uint8_t(c));
    return out;
  }
  out.push_back(16);
  auto unit = [&](uint32_t u) {
    out.push_back(uint8_t(u >> 8));
    out.push_back(uint8_t(u));
  };
  for (uint32_t c : chars) {
    if (c < 0x10000) {
      unit(c);
    } else {
      c -= 0x10000;
      unit(0xD800 + (c >> 10));
      unit(0xDC00 + (c & 0x3FF));
    }
  }
  return out;
}

std::string cut_utf8(const std::string& text, size_t max_bytes) {
  size_t end = 0;
  while (end < text.size()) {
    const size_t n = utf8_length_at(text, end);
    if (end + n > max_bytes) break;
    end += n;
  }
  return text.substr(0, end);
}

std::vector<uint8_t> udf_dstring(const std::string& text, size_t n) {
  std::vector<uint8_t> out(n, 0);
  if (n < 2) return out;
  bool ascii = true;
  for (char c : text)
    if (uint8_t(c) >= 128) ascii = false;
  if (ascii) {
    size_t len = text.size() < n - 2 ? text.size() : n - 2;
    out[0] = 8;
    for (size_t i = 0; i < len; ++i) out[1 + i] = uint8_t(text[i]);
    out[n - 1] = uint8_t(1 + len);
    return out;
  }
  out[0] = 16;
  size_t at = 1;
  size_t i = 0;
  // Each character takes two bytes; at least three must remain before the
  // length byte.
  while (i < text.size() && (n - 1) - at >= 3) {
    uint16_t c = next_ucs2(text, i);
    out[at] = uint8_t(c >> 8);
    out[at + 1] = uint8_t(c);
    at += 2;
  }
  out[n - 1] = uint8_t(at);
  return out;
}

}  // namespace varn
