// Golden frames: the SHA-256 of what the encoder produces for a spread of
// generated signals, channel counts, prediction orders and rates, pinned
// as literals. Any change to the sharing choice, the filters, the tables or
// the coded bits shows here, on every kernel variant and without SIMD; and
// every frame pinned is decoded back to its input.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dst/dst_kernel.h"
#include "dst/dst_parallel.h"
#include "dst_test_util.h"
#include "manifest/sha256.h"

namespace {

using dsdgen::SignalKind;

struct GoldenCase {
  SignalKind kind;
  int channels;
  uint32_t rate;  // DSD sample rate in Hz
  int order;
  size_t frames;
  const char* sha256;  // of the frame list, then of every sharing attempt
};

constexpr GoldenCase kCases[] = {
    {SignalKind::Music, 6, 2822400, 128, 3,
     "2a8d67d5f36b5fad27bb0f70afdd182a08d1982918b432488830283b89a8bf00"},
    {SignalKind::Music, 2, 6144000, 64, 2,
     "010375d954814eeb655a50f53096afda2d0d9b8acf766a3508f013e72a618c12"},
    {SignalKind::Music, 1, 2822400, 1, 2,
     "0c07b9528bc5b52ca6efe96991258e47cfecc20b76bafb55bbd39a5173bd6688"},
    {SignalKind::Music, 5, 2822400, 32, 2,
     "2004af81ce2c7f58aaa5de0867c2450447fc0113e297bbcbb62d602f13e0e387"},
    {SignalKind::Tone, 5, 3072000, 128, 2,
     "6d35275a70ec518f197b8443ff810733b7e320894d986b62d74856acead13fd2"},
    {SignalKind::Tone, 1, 11289600, 32, 2,
     "b6d907a4da06f08486898ca104fdd395b43903079a5abe648b30c8804ed8656d"},
    {SignalKind::Tone, 2, 2822400, 128, 3,
     "1c1b289a6b30440aa9a87e3584ac03f51c26ad486f06fd84d740edcca90fd448"},
    {SignalKind::Noise, 6, 5644800, 32, 2,
     "ce327a2da471d75732553ff32540c1e8ce1fea5561d3aaa91aa8c9951ca55d18"},
    {SignalKind::Noise, 2, 2822400, 1, 2,
     "ee10b3ea859f0a955ce559ef934102ca56532359b687c67e2f77c3f7310a5020"},
    {SignalKind::Noise, 5, 5644800, 128, 1,
     "5f25d16312e01e274e39593cbf5a3de233b86b0bd8f019343c3259a74069f8e3"},
    {SignalKind::Silence, 5, 12288000, 64, 1,
     "bd6c24605e2db47988ecc5bce9aaec7977f0520e9a70bf216d028a5e736c2c09"},
    {SignalKind::Silence, 1, 3072000, 128, 2,
     "e3c103cbd7c79e51c182ad74a6b81a678e3264e6530ad632bfd9aa7ba334dae6"},
};

// Hashes a frame (its length, then its bytes); every frame must also
// decode back to its input.
void add_decoded(varn::Sha256& h, const std::vector<uint8_t>& frame, const uint8_t* input, int channels, size_t bc) {
  const uint32_t n = static_cast<uint32_t>(frame.size());
  const uint8_t len[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
  varn::sha256_update(h, len, 4);
  varn::sha256_update(h, frame.data(), frame.size());
  const std::vector<uint8_t> out = dsttest::decode_one(frame, channels, bc);
  EXPECT_TRUE(out.size() == bc * size_t(channels) && std::memcmp(out.data(), input, out.size()) == 0)
      << "a frame of " << frame.size() << " bytes does not decode to its input";
}

std::string golden_hash(const GoldenCase& c) {
  const uint32_t base = c.rate % 44100 == 0 ? 44100 : 48000;
  const int multiple = static_cast<int>(c.rate / base);
  const size_t bc = dsttest::bytes_per_channel(c.rate);
  const size_t fb = bc * static_cast<size_t>(c.channels);
  const std::vector<uint8_t> audio = dsttest::signal(c.kind, c.channels, c.rate, c.frames, 5);
  varn::Sha256 h;
  varn::sha256_init(h);
  const std::vector<varn::DstFrame> frames =
      varn::dst_encode_parallel(audio.data(), static_cast<uint32_t>(c.frames), static_cast<uint32_t>(fb), c.channels,
                                multiple, static_cast<int>(base), 2, c.order)
          .value;
  for (size_t fr = 0; fr < frames.size(); ++fr) add_decoded(h, frames[fr], audio.data() + fr * fb, c.channels, bc);
  if (!varn::Init(c.channels, multiple, static_cast<int>(base), c.order)) return "Init failed";
  for (size_t fr = 0; fr < c.frames; ++fr)
    for (int n = c.channels; n >= 1; --n)
      add_decoded(h, dsttest::encode_one(audio.data() + fr * fb, fb, n), audio.data() + fr * fb, c.channels, bc);
  varn::dst_encoder_close();
  uint8_t digest[32];
  varn::sha256_final(h, digest);
  return varn::sha256_hex(digest);
}

void expect_golden(const std::string& variant) {
  for (const GoldenCase& c : kCases)
    EXPECT_EQ(golden_hash(c), c.sha256) << variant << ": kind " << static_cast<int>(c.kind) << ", " << c.channels
                                        << " ch, " << c.rate << " Hz, order " << c.order;
}

TEST(DstGolden, SameFramesWithoutSimdAndOnEveryKernel) {
  varn::set_simd_enabled(false);
  expect_golden("no SIMD");
  varn::set_simd_enabled(true);
  using varn::DstKernel;
  for (DstKernel k : {DstKernel::Avx2, DstKernel::Avx512}) {
    if (!varn::dst_kernel_available(k)) continue;
    varn::dst_limit_kernel(k);
    expect_golden("kernel " + std::to_string(static_cast<int>(k)));
  }
  varn::dst_limit_kernel(DstKernel::Avx512);
}

}  // namespace
