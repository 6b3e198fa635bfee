// Little helpers for on-disc numbers in byte buffers: the ISO 9660 volume
// uses little-, big- and both-endian fields, the UDF volume little-endian
// ones, the SACD structures big-endian ones, the audio containers both.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace varn {

inline void put_le16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void put_le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void put_le64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void put_be16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void put_be32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}
// Both-endian fields: the little-endian copy first, then the big-endian one.
inline void put_both16(uint8_t* p, uint16_t v) {
  put_le16(p, v);
  put_be16(p + 2, v);
}
inline void put_both32(uint8_t* p, uint32_t v) {
  put_le32(p, v);
  put_be32(p + 4, v);
}
inline uint32_t get_le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t get_le64(const uint8_t* p) { return get_le32(p) | (uint64_t(get_le32(p + 4)) << 32); }
inline uint16_t get_be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t get_be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint64_t get_be64(const uint8_t* p) { return (uint64_t(get_be32(p)) << 32) | get_be32(p + 4); }

// Copies at most `field` bytes of `text` and fills the rest with `fill`.
inline void put_padded(uint8_t* p, size_t field, const std::string& text, uint8_t fill) {
  size_t n = text.size() < field ? text.size() : field;
  std::memcpy(p, text.data(), n);
  std::memset(p + n, fill, field - n);
}

}  // namespace varn
