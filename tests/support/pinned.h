// Runs of sectors pinned by their SHA-256: a whole structure checked at once
// where its fields were checked one by one when the digest was taken.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "manifest/sha256.h"

namespace testsupport {

// The digest of a whole structure held in memory (any contiguous bytes).
template <typename Bytes>
std::string sha256_of(const Bytes& b) {
  return varn::sha256_hex_of(reinterpret_cast<const uint8_t*>(b.data()), b.size());
}

struct PinnedSectors {
  uint64_t first, count;
  const char* sha256;
};

inline void expect_pinned(const std::vector<uint8_t>& image, std::initializer_list<PinnedSectors> pins) {
  for (const PinnedSectors& p : pins) {
    const size_t at = size_t(p.first) * 2048, n = size_t(p.count) * 2048;
    ASSERT_LE(at + n, image.size()) << "sectors " << p.first << "+" << p.count;
    EXPECT_EQ(varn::sha256_hex_of(image.data() + at, n), p.sha256) << "sectors " << p.first << "+" << p.count;
  }
}

}  // namespace testsupport
