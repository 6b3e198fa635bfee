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

}  // namespace

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
