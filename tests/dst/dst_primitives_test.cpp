// The encoder's building blocks against their definitions: prediction
// kernels, packed-bit autocorrelation and the arithmetic coder.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "dst/dst_arith.h"
#include "dst/dst_autocorr.h"
#include "dst/dst_kernel.h"

namespace {

using varn::DstKernel;

// Reference prediction straight from the definition.
std::vector<int16_t> reference_prediction(const std::vector<int16_t>& coef, const int16_t* mask, size_t count) {
  std::vector<int16_t> out(count);
  for (size_t n = 0; n < count; ++n) {
    int32_t p = 0;
    for (size_t k = 0; k < coef.size(); ++k) {
      const int s = mask[static_cast<long>(n) - 1 - static_cast<long>(k)] ? 1 : -1;
      p += coef[k] * s;
    }
    out[n] = static_cast<int16_t>(p);
  }
  return out;
}

// Both forms of a bit array whose position 0 is at `mask`.
struct Bits {
  std::vector<int16_t> six;
  varn::DstBits bits;
  Bits(const int16_t* mask, size_t count) : six(varn::kDstKernelHistory + count) {
    varn::dst_bits_six(mask, count, six.data() + varn::kDstKernelHistory);
    bits = {mask, six.data() + varn::kDstKernelHistory};
  }
};

TEST(DstKernel, EveryVariantGivesTheDefinitionsPrediction) {
  std::mt19937 rng(7);
  const size_t history = varn::kDstKernelHistory;
  for (size_t count : {size_t(1), size_t(37), size_t(300), size_t(1000)}) {
    std::vector<int16_t> buf(history + count + 64);
    for (auto& v : buf) v = (rng() & 1) ? -1 : 0;
    const int16_t* mask = buf.data() + history;
    const Bits bits(mask, count);
    for (int order : {1, 2, 7, 8, 9, 15, 16, 31, 32, 33, 64, 100, 127, 128}) {
      std::vector<int16_t> coef(static_cast<size_t>(order));
      for (auto& c : coef) c = static_cast<int16_t>(static_cast<int>(rng() % 511) - 255);
      // The extremes: every coefficient at +-255 and all bits equal.
      if (order == 128) std::fill(coef.begin(), coef.end(), int16_t(-255));
      const std::vector<int16_t> want = reference_prediction(coef, mask, count);
      for (DstKernel k : {DstKernel::Scalar, DstKernel::Sse41, DstKernel::Avx2, DstKernel::Avx512}) {
        if (!varn::dst_kernel_available(k)) continue;
        std::vector<int16_t> got(count, 0x5555);
        varn::dst_predict(k, coef.data(), order, bits.bits, got.data(), count);
        ASSERT_EQ(got, want) << "kernel " << static_cast<int>(k) << " order " << order << " count " << count;
      }
    }
  }
}

TEST(DstKernel, ExtremeSumsStayExact) {
  // All history bits 1 and every coefficient 255: p = 128 x 255.
  const size_t h = varn::kDstKernelHistory;
  std::vector<int16_t> ones(h + 512, -1), zero(h + 512, 0);
  const Bits all_ones(ones.data() + h, 512), all_zero(zero.data() + h, 512);
  std::vector<int16_t> coef(128, 255);
  for (DstKernel k : {DstKernel::Scalar, DstKernel::Sse41, DstKernel::Avx2, DstKernel::Avx512}) {
    if (!varn::dst_kernel_available(k)) continue;
    std::vector<int16_t> got(512);
    varn::dst_predict(k, coef.data(), 128, all_ones.bits, got.data(), 512);
    for (int16_t v : got) ASSERT_EQ(v, 32640);
    varn::dst_predict(k, coef.data(), 128, all_zero.bits, got.data(), 512);
    for (int16_t v : got) ASSERT_EQ(v, -32640);
  }
}

TEST(DstAutocorrelation, PackedWordsGiveTheDefinition) {
  std::mt19937 rng(3);
  for (size_t length : {size_t(1), size_t(63), size_t(64), size_t(65), size_t(200), size_t(37632)}) {
    std::vector<uint8_t> bits(length);
    // Correlated bits, so that the lags differ.
    uint8_t prev = 0;
    for (auto& b : bits) b = prev = static_cast<uint8_t>((rng() % 4 == 0) ? prev ^ 1 : prev);
    std::vector<uint64_t> words(4 + (length + 63) / 64 + 1, 0);
    varn::dst_pack_bits(bits.data(), length, words.data() + 4);
    std::vector<int64_t> r(129);
    varn::dst_autocorrelation(words.data() + 4, length, 128, r.data());
    for (int k = 0; k <= 128; ++k) {
      int64_t want = 0;
      for (size_t n = static_cast<size_t>(k); n < length; ++n)
        want += (bits[n] == bits[n - static_cast<size_t>(k)]) ? 1 : -1;
      ASSERT_EQ(r[static_cast<size_t>(k)], want) << "length " << length << " lag " << k;
    }
  }
}

// Codes a symbol sequence and decodes it back.
void round_trip(const std::vector<uint8_t>& bits, const std::vector<uint8_t>& probs) {
  const size_t n = bits.size();
  // A badly matched probability costs up to 8 bits per symbol.
  const size_t limit = 9 * n + 4096;
  std::vector<uint8_t> buf(limit / 8 + 64);
  varn::DstArithEncoder enc;
  enc.start(buf.data(), limit);
  const uint8_t* b[1] = {bits.data()};
  const uint8_t* p[1] = {probs.data()};
  enc.encode_channels(b, p, 1, n);
  ASSERT_FALSE(enc.overflow);
  const size_t len = enc.finish();
  if (len > 0) {
    EXPECT_EQ(buf[0] & 0x80, 0) << "coded data must begin with a 0 bit";
    EXPECT_NE(buf[(len - 1) / 8] & (0x80 >> ((len - 1) % 8)), 0) << "trailing zeros are dropped";
  }
  // Nothing written past the code length.
  for (size_t i = len; i < (len + 7) / 8 * 8; ++i) ASSERT_EQ((buf[i / 8] >> (7 - i % 8)) & 1, 0);
  varn::DstArithDecoder dec;
  dec.start(buf.data(), 0, len);
  for (size_t i = 0; i < n; ++i) ASSERT_EQ(dec.decode(probs[i]), bits[i]) << "symbol " << i;
}

TEST(DstArithmeticCoder, RoundTripsEverySymbolSequence) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 40; ++trial) {
    const size_t n = 1 + rng() % 20000;
    std::vector<uint8_t> bits(n), probs(n);
    const unsigned skew = 1 + rng() % 128;
    for (size_t i = 0; i < n; ++i) {
      probs[i] = static_cast<uint8_t>(1 + rng() % 128);
      bits[i] = (rng() % 256) < skew ? 1 : 0;
    }
    round_trip(bits, probs);
  }
}

TEST(DstArithmeticCoder, ExtremeSequences) {
  const size_t n = 50000;
  // All zeros at probability 1: the code value stays 0 and nothing is written.
  std::vector<uint8_t> zeros(n, 0), ones(n, 1), p1(n, 1), p128(n, 128);
  round_trip(zeros, p1);
  round_trip(ones, p128);
  round_trip(ones, p1);  // long carry chains
  round_trip(zeros, p128);
  std::vector<uint8_t> alt(n);
  for (size_t i = 0; i < n; ++i) alt[i] = i % 2;
  round_trip(alt, p1);
  {
    std::vector<uint8_t> buf(64);
    varn::DstArithEncoder enc;
    enc.start(buf.data(), 256);
    const uint8_t* b[1] = {zeros.data()};
    const uint8_t* p[1] = {p1.data()};
    enc.encode_channels(b, p, 1, 1000);
    EXPECT_EQ(enc.finish(), 0u);
  }
}

TEST(DstArithmeticCoder, GivesUpAtItsLimit) {
  std::mt19937 rng(5);
  const size_t n = 20000;
  std::vector<uint8_t> bits(n), probs(n, 1);
  for (auto& b : bits) b = rng() & 1;  // ones at probability 1/256: far more than n bits
  std::vector<uint8_t> buf(n / 8 + 64);
  varn::DstArithEncoder enc;
  enc.start(buf.data(), n);
  const uint8_t* b[1] = {bits.data()};
  const uint8_t* p[1] = {probs.data()};
  enc.encode_channels(b, p, 1, n);
  EXPECT_TRUE(enc.overflow);
}

}  // namespace
