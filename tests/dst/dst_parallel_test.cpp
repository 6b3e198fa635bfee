// Coding a whole track on worker threads: the same frames whatever the
// thread count or the size of the parts read (SIMD is the golden test's);
// the decode check's fallback to a plain frame; refusals that give no
// frames.
#include <gtest/gtest.h>

#include <cstring>

#include "dst/dst_parallel.h"
#include "dst_test_util.h"
#include "support/capture.h"

namespace {

constexpr size_t kBc = 4704;

std::vector<varn::DstFrame> encode(const std::vector<uint8_t>& audio, int channels, int threads, int order = 20) {
  std::vector<varn::DstFrame> f;
  testsupport::capture([&] { f = varn::dst_encode_track(audio.data(), audio.size(), channels, 64, 44100, order, threads); });
  return f;
}

TEST(DstParallel, SameFramesForEveryThreadCountAndInParts) {
  const int channels = 6;
  // Frames that all differ: a stretch of a little more than three frames, repeated.
  dsdgen::SignalOptions o;
  o.channels = channels;
  o.samples = kBc * 8 * 17;
  std::vector<uint8_t> audio = dsdgen::generate_repeated(o, kBc * 3 + 40);
  audio.resize(audio.size() + 100, 0x69);  // a trailing part frame is not coded
  const std::vector<varn::DstFrame> one = encode(audio, channels, 1);
  ASSERT_EQ(one.size(), 17u);
  for (int threads : {2, 16, 0}) EXPECT_TRUE(encode(audio, channels, threads) == one) << threads;
  // Coded four frames at a time from a source, as audio left in its file is.
  const varn::DstFrameSource parts = [&](uint32_t first, uint32_t, uint32_t frame_bytes) {
    return audio.data() + size_t(first) * frame_bytes;
  };
  std::vector<varn::DstFrame> in_parts;
  testsupport::capture([&] {
    EXPECT_FALSE(varn::dst_encode_track_from(parts, audio.size(), channels, 64, 44100, 20, 2, 4 * 28224,
                                             [&](const varn::DstFrame& f) {
                                               in_parts.push_back(f);
                                               return true;
                                             }));
    // A sink that refuses a frame (a failed spool write) stops the coding there.
    size_t taken = 0;
    EXPECT_TRUE(varn::dst_encode_track_from(parts, audio.size(), channels, 64, 44100, 20, 2, 4 * 28224,
                                            [&](const varn::DstFrame&) { return ++taken < 6; }));
    EXPECT_EQ(taken, 6u);
  });
  EXPECT_TRUE(in_parts == one);
}

TEST(DstParallel, AFrameThatFailsItsDecodeCheckIsStoredPlain) {
  const std::vector<uint8_t> music = dsttest::signal(dsdgen::SignalKind::Music, 2, 2822400, 1, 9);
  ASSERT_TRUE(varn::Init(2, 64, 44100, 16));
  const std::vector<uint8_t> good = dsttest::encode_one(music.data(), music.size(), 2);
  varn::dst_encoder_close();
  ASSERT_EQ(good[0] & 0x80, 0x80);
  std::vector<uint8_t> bad = good;
  bad[bad.size() / 2] ^= 0x10;  // inside the arithmetic-coded data
  varn::DstDecoder d;
  ASSERT_TRUE(varn::dst_decoder_init(d, 2, kBc));
  std::vector<uint8_t> scratch(music.size());
  std::vector<varn::DstFrame> out;
  const testsupport::Streams s = testsupport::capture([&] {
    varn::dst_append_checked(d, good.data(), good.size(), music.data(), music.size(), 5, out, scratch.data());
    varn::dst_append_checked(d, bad.data(), bad.size(), music.data(), music.size(), 7, out, scratch.data());
  });
  EXPECT_TRUE(testsupport::contains(s.err, "frame 7 failed its decode check")) << s.err;
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], good);
  ASSERT_EQ(out[1].size(), music.size() + 1);
  EXPECT_EQ(out[1][0], 0x00);
  EXPECT_EQ(0, std::memcmp(out[1].data() + 1, music.data(), music.size()));
}

TEST(DstParallel, RefusalsGiveNoFrames) {
  const std::vector<uint8_t> audio(9408 * 2, 0x69);
  struct Case {
    const uint8_t* data;
    size_t size;
    int channels, rate_multiple;
  } cases[] = {{audio.data(), 9407, 2, 64},        {audio.data(), audio.size(), 7, 64}, {audio.data(), audio.size(), 0, 64},
               {nullptr, 100, 2, 64},              {audio.data(), 0, 2, 64},            {audio.data(), audio.size(), 2, 512},
               {audio.data(), audio.size(), 2, 32}};  // the last passes the size bound but not the encoder
  for (const Case& c : cases) {
    std::vector<varn::DstFrame> f;
    testsupport::capture([&] { f = varn::dst_encode_track(c.data, c.size, c.channels, c.rate_multiple, 44100, 32, 2); });
    EXPECT_TRUE(f.empty()) << c.size << " " << c.channels << " " << c.rate_multiple;
  }
  // A part that cannot be read, or workers that cannot start, come back as
  // an error, not as a short success.
  const varn::DstFrameSource unreadable = [&](uint32_t first, uint32_t, uint32_t) -> const uint8_t* {
    return first == 0 ? audio.data() : nullptr;
  };
  const varn::DstFrameSource whole = [&](uint32_t first, uint32_t, uint32_t fb) { return audio.data() + size_t(first) * fb; };
  for (const auto& [source, rm] : {std::pair{unreadable, 64}, {whole, 32}}) {
    bool error = false;
    testsupport::capture([&] { error = bool(varn::dst_encode_track_from(source, audio.size(), 2, rm, 44100, 8, 1, 9408,
                                                                         [](const varn::DstFrame&) { return true; }));
    });
    EXPECT_TRUE(error) << rm;
  }
  // 256 x 48000 Hz is the largest rate taken: 20480 bytes per channel.
  std::vector<uint8_t> big(20480 * 2, 0x69);
  std::vector<varn::DstFrame> f;
  testsupport::capture([&] { f = varn::dst_encode_track(big.data(), big.size(), 2, 256, 48000, 32, 2); });
  EXPECT_EQ(f.size(), 1u);
}

}  // namespace
