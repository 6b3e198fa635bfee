// Field writes, cuts and chunk lookups in the bytes of DSF and DSDIFF
// files, for tests that damage files on purpose.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Writes `v` as a field of `width` bytes: little-endian (DSF) or big-endian (DSDIFF).
inline void put(std::vector<uint8_t>& f, size_t at, uint64_t v, int width, bool big = false) {
  for (int i = 0; i < width; ++i) f[at + i] = uint8_t(v >> (8 * (big ? width - 1 - i : i)));
}

inline uint64_t get_be(const std::vector<uint8_t>& f, size_t at, int width) {
  uint64_t v = 0;
  for (int i = 0; i < width; ++i) v = (v << 8) | f[at + i];
  return v;
}

inline std::vector<uint8_t> cut(std::vector<uint8_t> f, size_t n) {
  f.resize(n);
  return f;
}

// Offset of the first occurrence of an id at or after `from`, npos when absent.
inline size_t find_id(const std::vector<uint8_t>& f, const char* id, size_t from = 0) {
  const auto it = std::search(f.begin() + std::min(from, f.size()), f.end(), id, id + 4);
  return it == f.end() ? std::string::npos : size_t(it - f.begin());
}

// Offset of the top-level DSDIFF chunk with that id, npos when absent.
inline size_t top_chunk(const std::vector<uint8_t>& f, const char* id) {
  for (size_t at = 16; at + 12 <= f.size();) {
    const uint64_t size = get_be(f, at + 4, 8);
    if (std::equal(id, id + 4, f.begin() + at)) return at;
    if (size > f.size()) break;
    at += 12 + size + (size & 1);
  }
  return std::string::npos;
}

}  // namespace testsupport
