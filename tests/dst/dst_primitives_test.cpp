// The encoder's building blocks against their definitions: the prediction
// kernels of every SIMD level and the arithmetic coder.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "dst/dst_arith.h"
#include "dst/dst_kernel.h"

namespace {

using varn::DstKernel;

TEST(DstKernel, EveryVariantGivesTheDefinitionsPrediction) {
  std::mt19937 rng(7);
  const size_t history = varn::kDstKernelHistory;
  for (size_t count : {size_t(1), size_t(37), size_t(300), size_t(1000)}) {
    // The last round has every history bit 1: sums at their extremes.
    for (bool extreme : {false, true}) {
      std::vector<int16_t> buf(history + count + 64);
      for (auto& v : buf) v = (extreme || (rng() & 1)) ? -1 : 0;
      const int16_t* mask = buf.data() + history;
      std::vector<int16_t> six(history + count);
      varn::dst_bits_six(mask, count, six.data() + history);
      const varn::DstBits bits = {mask, six.data() + history};
      for (int order : {1, 2, 7, 8, 9, 15, 16, 31, 32, 33, 64, 100, 127, 128}) {
        std::vector<int16_t> coef(size_t(order), 255);
        if (!extreme)
          for (auto& c : coef) c = int16_t(int(rng() % 511) - 255);
        std::vector<int16_t> want(count);
        for (size_t n = 0; n < count; ++n) {
          int32_t p = 0;
          for (size_t k = 0; k < coef.size(); ++k) p += coef[k] * (mask[long(n) - 1 - long(k)] ? 1 : -1);
          want[n] = int16_t(p);
        }
        for (DstKernel k : {DstKernel::Scalar, DstKernel::Avx2, DstKernel::Avx512}) {
          if (!varn::dst_kernel_available(k)) continue;
          std::vector<int16_t> got(count, 0x5555);
          varn::dst_predict(k, coef.data(), order, bits, got.data(), count);
          ASSERT_EQ(got, want) << "kernel " << int(k) << " order " << order << " count " << count;
        }
      }
    }
  }
}

// Codes a symbol sequence with a code limit; false when the coder gave up.
bool code(const std::vector<uint8_t>& bits, const std::vector<uint8_t>& probs, size_t limit, std::vector<uint8_t>& buf,
          size_t& len) {
  buf.assign(limit / 8 + 64, 0);
  varn::DstArithEncoder enc;
  enc.start(buf.data(), limit);
  const uint8_t* b[1] = {bits.data()};
  const uint8_t* p[1] = {probs.data()};
  enc.encode_channels(b, p, 1, bits.size());
  len = enc.finish();
  return !enc.overflow;
}

TEST(DstArithmeticCoder, RoundTripsAndGivesUpAtItsLimit) {
  std::mt19937 rng(11);
  std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> cases;
  for (int trial = 0; trial < 40; ++trial) {
    const size_t n = 1 + rng() % 20000;
    const unsigned skew = 1 + rng() % 128;
    std::vector<uint8_t> bits(n), probs(n);
    for (size_t i = 0; i < n; ++i) {
      probs[i] = uint8_t(1 + rng() % 128);
      bits[i] = (rng() % 256) < skew;
    }
    cases.emplace_back(bits, probs);
  }
  // Extremes: all zeros at probability 1 (nothing written), long carry
  // chains of ones at probability 1, alternating bits.
  const size_t n = 50000;
  std::vector<uint8_t> zeros(n, 0), ones(n, 1), alt(n), p1(n, 1), p128(n, 128);
  for (size_t i = 0; i < n; ++i) alt[i] = i % 2;
  for (const auto& [b, p] : {std::pair{zeros, p1}, {ones, p128}, {ones, p1}, {zeros, p128}, {alt, p1}})
    cases.emplace_back(b, p);
  std::vector<uint8_t> buf;
  for (const auto& [bits, probs] : cases) {
    size_t len = 0;
    ASSERT_TRUE(code(bits, probs, 9 * bits.size() + 4096, buf, len));  // at most 8 bits a symbol
    if (len > 0) {
      EXPECT_EQ(buf[0] & 0x80, 0) << "coded data begins with a 0 bit";
      EXPECT_NE(buf[(len - 1) / 8] & (0x80 >> ((len - 1) % 8)), 0) << "trailing zeros are dropped";
    }
    for (size_t i = len; i < (len + 7) / 8 * 8; ++i) ASSERT_EQ((buf[i / 8] >> (7 - i % 8)) & 1, 0);
    varn::DstArithDecoder dec;
    dec.start(buf.data(), 0, len);
    for (size_t i = 0; i < bits.size(); ++i) ASSERT_EQ(dec.decode(probs[i]), bits[i]) << "symbol " << i;
    // Side by side, a writing stream between two measuring ones: the writer
    // gives the same bits, the first measure the same length (unknown only
    // when the code value's last 64 bits, here all of it, are zero), the
    // second, limited to that length, gives up as the writer would.
    std::vector<uint8_t> sym(bits.size()), lut(256), out(buf.size());
    for (size_t i = 0; i < bits.size(); ++i) sym[i] = uint8_t(bits[i] << 7 | (probs[i] - 1));
    for (int v = 0; v < 256; ++v) lut[size_t(v)] = uint8_t((v & 127) + 1);
    varn::DstArithEncoder e[3];
    varn::DstArithEncoder* streams[3] = {&e[0], &e[1], &e[2]};
    const uint8_t* syms[3] = {sym.data(), sym.data(), sym.data()};
    const uint8_t* luts[3] = {lut.data(), lut.data(), lut.data()};
    for (int a = 0; a < 3; ++a) e[a].start(a == 1 ? out.data() : nullptr, a == 2 ? len : 9 * bits.size() + 4096);
    varn::dst_arith_encode_batch(streams, 3, syms, luts, 1, bits.size());
    ASSERT_EQ(e[1].finish(), len);
    ASSERT_TRUE(std::equal(buf.begin(), buf.begin() + long((len + 7) / 8), out.begin()));
    const size_t measured = e[0].finish();
    if (measured == varn::kDstLengthUnknown) ASSERT_EQ(len, 0u);
    else ASSERT_EQ(measured, len);
    e[2].finish();
    ASSERT_TRUE(e[2].overflow);
  }
  size_t len = 1;
  EXPECT_TRUE(code(std::vector<uint8_t>(1000, 0), std::vector<uint8_t>(1000, 1), 256, buf, len));
  EXPECT_EQ(len, 0u);
  // Random bits at probability 1/256 need far more than one bit each.
  std::vector<uint8_t> noise(20000);
  for (auto& b : noise) b = rng() & 1;
  EXPECT_FALSE(code(noise, std::vector<uint8_t>(noise.size(), 1), noise.size(), buf, len));
}

}  // namespace
