// Track coding over worker threads: frame order, determinism
// across thread counts and SIMD, the decode check and every refusal with
// its message.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dst/dst_parallel.h"
#include "dst_test_util.h"

namespace {

using dsdgen::SignalKind;
constexpr size_t kBc = 4704;

// A track whose frames all differ: a modulated stretch of a little more
// than three frames, repeated.
std::vector<uint8_t> track(int channels, size_t frames, SignalKind kind = SignalKind::Music) {
  dsdgen::SignalOptions o;
  o.kind = kind;
  o.channels = static_cast<uint32_t>(channels);
  o.samples = kBc * 8 * frames;
  return dsdgen::generate_repeated(o, kBc * 3 + 40);
}

void expect_frames_decode_to(const std::vector<varn::DstFrame>& frames, const std::vector<uint8_t>& audio,
                             int channels) {
  const size_t fb = kBc * static_cast<size_t>(channels);
  ASSERT_EQ(frames.size(), audio.size() / fb);
  varn::DstDecoder d;
  ASSERT_TRUE(varn::dst_decoder_init(d, channels, kBc));
  std::vector<uint8_t> out(fb);
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_TRUE(varn::dst_decode_frame(d, frames[i].data(), frames[i].size(), out.data())) << i << " " << d.error;
    ASSERT_EQ(0, std::memcmp(out.data(), audio.data() + i * fb, fb)) << "frame " << i;
  }
}

TEST(DstParallel, StereoTrackOf750FramesOnEightThreads) {
  const std::vector<uint8_t> audio = track(2, 750);
  ASSERT_EQ(audio.size(), 7056000u);
  testing::internal::CaptureStderr();
  const std::vector<varn::DstFrame> frames = varn::dst_encode_track(audio.data(), audio.size(), 2, 64, 44100, 2, 8);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "  [DST] 750 frames encoded\n");
  ASSERT_EQ(frames.size(), 750u);
  size_t coded = 0;
  for (const varn::DstFrame& f : frames) coded += (f[0] & 0x80) ? 1 : 0;
  EXPECT_EQ(coded, 750u);
  expect_frames_decode_to(frames, audio, 2);
}

TEST(DstParallel, SameFramesForEveryThreadCountInPartsAndWithoutSimd) {
  const int channels = 6;
  const std::vector<uint8_t> audio = track(channels, 17);
  testing::internal::CaptureStderr();
  const std::vector<varn::DstFrame> one = varn::dst_encode_track(audio.data(), audio.size(), channels, 64, 44100, 20, 1);
  const std::vector<varn::DstFrame> two = varn::dst_encode_track(audio.data(), audio.size(), channels, 64, 44100, 20, 2);
  const std::vector<varn::DstFrame> many = varn::dst_encode_track(audio.data(), audio.size(), channels, 64, 44100, 20, 16);
  const std::vector<varn::DstFrame> all_cores = varn::dst_encode_track(audio.data(), audio.size(), channels, 64, 44100, 20, 0);
  // Coded four frames at a time from a source, as audio left in its file is.
  const varn::DstFrameSource parts = [&](uint32_t first, uint32_t, uint32_t frame_bytes) {
    return audio.data() + size_t(first) * frame_bytes;
  };
  const std::vector<varn::DstFrame> in_parts =
      varn::dst_encode_track_from(parts, audio.size(), channels, 64, 44100, 20, 2, 4 * 28224).value;
  varn::set_simd_enabled(false);
  const std::vector<varn::DstFrame> scalar = varn::dst_encode_track(audio.data(), audio.size(), channels, 64, 44100, 20, 3);
  varn::set_simd_enabled(true);
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(one.size(), 17u);
  EXPECT_TRUE(one == two);
  EXPECT_TRUE(one == many);
  EXPECT_TRUE(one == all_cores);
  EXPECT_TRUE(one == in_parts);
  EXPECT_TRUE(one == scalar);
  expect_frames_decode_to(one, audio, channels);
}

TEST(DstParallel, KeepsTheShortestSharing) {
  // The pool's frame is the shortest of the single attempts, the earliest
  // (largest N) on equal length.
  const int channels = 4;
  const std::vector<uint8_t> music = dsttest::signal(SignalKind::Music, channels, 2822400, 1, 21);
  testing::internal::CaptureStderr();
  const std::vector<varn::DstFrame> frames = varn::dst_encode_track(music.data(), music.size(), channels, 64, 44100, 24, 1);
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(frames.size(), 1u);
  ASSERT_TRUE(varn::Init(channels, 64, 44100, 24));
  size_t best = 0;
  std::vector<uint8_t> best_frame;
  for (int n = channels; n >= 1; --n) {
    std::vector<uint8_t> f = dsttest::encode_one(music.data(), music.size(), n);
    if (best == 0 || f.size() < best) {  // strict: an equal later attempt does not replace
      best = f.size();
      best_frame = f;
    }
  }
  varn::dst_encoder_close();
  EXPECT_EQ(frames[0], best_frame);
}

TEST(DstParallel, AFrameThatFailsItsDecodeCheckIsStoredPlain) {
  const int channels = 2;
  const std::vector<uint8_t> music = dsttest::signal(SignalKind::Music, channels, 2822400, 1, 9);
  ASSERT_TRUE(varn::Init(channels, 64, 44100, 16));
  std::vector<uint8_t> good = dsttest::encode_one(music.data(), music.size(), 2);
  varn::dst_encoder_close();
  ASSERT_EQ(good[0] & 0x80, 0x80);
  varn::DstDecoder d;
  ASSERT_TRUE(varn::dst_decoder_init(d, channels, kBc));
  std::vector<uint8_t> scratch(music.size());
  std::vector<varn::DstFrame> out;
  testing::internal::CaptureStderr();
  varn::dst_append_checked(d, good.data(), good.size(), music.data(), music.size(), 5, out, scratch.data());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], good);

  std::vector<uint8_t> bad = good;
  bad[bad.size() / 2] ^= 0x10;  // inside the arithmetic-coded data
  testing::internal::CaptureStderr();
  varn::dst_append_checked(d, bad.data(), bad.size(), music.data(), music.size(), 7, out, scratch.data());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "  DST: frame 7 failed its decode check, stored plain\n");
  ASSERT_EQ(out.size(), 2u);
  ASSERT_EQ(out[1].size(), music.size() + 1);
  EXPECT_EQ(out[1][0], 0x00);
  EXPECT_EQ(0, std::memcmp(out[1].data() + 1, music.data(), music.size()));
}

TEST(DstParallel, TrailingPartialFrameIsNotEncoded) {
  std::vector<uint8_t> audio = track(2, 3);
  audio.resize(audio.size() + 100, 0x69);
  testing::internal::CaptureStderr();
  const std::vector<varn::DstFrame> frames = varn::dst_encode_track(audio.data(), audio.size(), 2, 64, 44100, 8, 4);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "  [DST] 3 frames encoded\n");
  EXPECT_EQ(frames.size(), 3u);
}

TEST(DstParallel, RefusalsAndTheirMessages) {
  const std::vector<uint8_t> audio = track(2, 2);
  // The frame count and the error text, or the reported text on success.
  auto run = [](const uint8_t* data, size_t size, int ch, int rm, int base) {
    varn::DstFrameSource whole;
    if (data) whole = [data](uint32_t first, uint32_t, uint32_t fb) { return data + size_t(first) * fb; };
    testing::internal::CaptureStderr();
    const auto r = varn::dst_encode_track_from(whole, size, ch, rm, base, 32, 2, UINT64_MAX);
    const std::string reported = testing::internal::GetCapturedStderr();
    return std::make_pair(r.value.size(), r.error ? r.error->text : reported);
  };
  EXPECT_EQ(run(audio.data(), 9407, 2, 64, 44100),
            std::make_pair(size_t(0), std::string("  DST: data too small (9407 bytes, need 9408 per frame)\n")));
  EXPECT_EQ(run(audio.data(), audio.size(), 7, 64, 44100),
            std::make_pair(size_t(0), std::string("  DST: invalid parameters (ch=7, size=18816)\n")));
  EXPECT_EQ(run(audio.data(), audio.size(), 0, 64, 44100),
            std::make_pair(size_t(0), std::string("  DST: invalid parameters (ch=0, size=18816)\n")));
  EXPECT_EQ(run(nullptr, 100, 2, 64, 44100),
            std::make_pair(size_t(0), std::string("  DST: invalid parameters (ch=2, size=100)\n")));
  EXPECT_EQ(run(audio.data(), 0, 2, 64, 44100),
            std::make_pair(size_t(0), std::string("  DST: invalid parameters (ch=2, size=0)\n")));
  EXPECT_EQ(run(audio.data(), audio.size(), 2, 512, 44100),
            std::make_pair(size_t(0), std::string("  DST: frame too large for codec bound (per_ch=37632 > "
                                                  "DSDFRAMESIZE=20480, base=44100 os=512)\n")));
  // 256 x 48000 Hz is the largest rate accepted: 20480 bytes per channel.
  {
    std::vector<uint8_t> big(20480 * 2, 0x69);
    auto r = run(big.data(), big.size(), 2, 256, 48000);
    EXPECT_EQ(r.first, 1u);
    EXPECT_EQ(r.second, "  [DST] 1 frames encoded\n");
  }

  for (const auto& bad : {varn::dst_encode_parallel(nullptr, 3, 9408, 2, 64, 44100, 2, 32),
                          varn::dst_encode_parallel(audio.data(), 0, 9408, 2, 64, 44100, 2, 32),
                          varn::dst_encode_parallel(audio.data(), 2, 9408, 9, 64, 44100, 2, 32)}) {
    ASSERT_TRUE(bad.error);
    EXPECT_EQ(bad.error->text, "  DST: invalid batch parameters\n");
  }
  // A part that cannot be read leaves the track uncoded, with no count line.
  const varn::DstFrameSource unreadable = [&](uint32_t first, uint32_t, uint32_t fb) -> const uint8_t* {
    return first == 0 ? audio.data() : nullptr;
  };
  testing::internal::CaptureStderr();
  const auto cut = varn::dst_encode_track_from(unreadable, audio.size(), 2, 64, 44100, 8, 1, 9408);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_TRUE(cut.error);
  EXPECT_EQ(cut.error->text, "  DST: the audio of frames 1 to 1 cannot be read\n");
}

TEST(DstParallel, WorkerInitFailureIsAnErrorNotASuccess) {
  // 32 x 44100 Hz passes the frame-size bound but not the encoder: every
  // worker fails and the shortfall comes back as the error, with no frame
  // count line claiming success.
  std::vector<uint8_t> audio(2352 * 2 * 4, 0x69);
  const varn::DstFrameSource whole = [&](uint32_t first, uint32_t, uint32_t fb) {
    return audio.data() + size_t(first) * fb;
  };
  testing::internal::CaptureStderr();
  const auto r = varn::dst_encode_track_from(whole, audio.size(), 2, 32, 44100, 64, 2, UINT64_MAX);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(r.value.empty());
  EXPECT_EQ(err, "  DST: thread Init(2,32,44100,64) failed\n  DST: thread Init(2,32,44100,64) failed\n");
  ASSERT_TRUE(r.error);
  EXPECT_EQ(r.error->text, "  DST: batch encode produced 0/4 frames\n");
}

}  // namespace
