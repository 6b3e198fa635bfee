// A general DST reader as a peer: a DSDIFF file whose DST chunk holds our
// frames decodes in ffmpeg to exactly the PCM of the plain file of the same
// audio. ffmpeg 5.1 misplaces the samples of plain DST frames, so the
// material gives coded frames only, and the test checks that it does.
#include <gtest/gtest.h>

#include "dst/dst_parallel.h"
#include "dst_frame_writer.h"
#include "dst_test_util.h"
#include "support/capture.h"
#include "support/test_support.h"

namespace {

constexpr size_t kBc = 4704;

void expect_same_pcm(const std::vector<uint8_t>& audio, int channels, const std::vector<varn::DstFrame>& frames) {
  testsupport::ScratchDir dir;
  dsdgen::DffOptions plain, dst;
  dst.dst_frames = frames;
  ASSERT_TRUE(dsdgen::write_dsdiff(dir.file("plain.dff"), uint32_t(channels), 2822400, audio, plain));
  ASSERT_TRUE(dsdgen::write_dsdiff(dir.file("dst.dff"), uint32_t(channels), 2822400, {}, dst));
  std::vector<uint8_t> pcm[2];
  for (int i = 0; i < 2; ++i) {
    const std::string in = dir.file(i ? "dst.dff" : "plain.dff"), out = in + ".raw";
    const auto r = testsupport::run_program(
        "ffmpeg", {"-nostdin", "-v", "error", "-y", "-i", in, "-f", "s32le", "-acodec", "pcm_s32le", out});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    pcm[i] = testsupport::read_file(out);
  }
  // DSD64 comes out at 352800 Hz: one PCM sample per DSD byte and channel.
  EXPECT_EQ(pcm[0].size(), audio.size() * 4);
  EXPECT_TRUE(pcm[1] == pcm[0]) << channels << " channels";
}

TEST(DstFfmpeg, OurFramesDecodeToThePcmOfThePlainFile) {
  if (!testsupport::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  for (int channels : {2, 5, 6}) {
    const std::vector<uint8_t> audio = dsttest::signal(dsdgen::SignalKind::Music, channels, 2822400, 12, 40u + channels);
    std::vector<varn::DstFrame> frames;
    testsupport::capture([&] {
      frames = varn::dst_encode_track(audio.data(), audio.size(), channels, 64, 44100, channels == 2 ? 128 : 32, 2);
    });
    ASSERT_EQ(frames.size(), 12u);
    for (const varn::DstFrame& f : frames) ASSERT_EQ(f[0] & 0x80, 0x80) << "coded frames only";
    expect_same_pcm(audio, channels, frames);
  }
}

// Our frames with filters and tables rewritten in the coded (Rice with
// prediction) forms by the test writer: ffmpeg reads them as we do.
TEST(DstFfmpeg, CodedCoefficientAndTableFormsMatchFfmpeg) {
  const int channels = 3;
  const std::vector<uint8_t> audio = dsttest::signal(dsdgen::SignalKind::Chirp, channels, 2822400, 6, 77);
  const size_t fb = kBc * channels;
  std::vector<varn::DstFrame> frames;
  ASSERT_TRUE(varn::Init(channels, 64, 44100, 48));
  for (size_t i = 0; i < 6; ++i) {
    const uint8_t* in = audio.data() + i * fb;
    dsttest::FrameSpec spec = dsttest::spec_of(dsttest::encode_one(in, fb, int(i % channels) + 1), channels, kBc);
    ASSERT_FALSE(spec.coefs.empty());
    spec.coef_method.assign(spec.coefs.size(), int(i % 3));
    spec.coef_rice.assign(spec.coefs.size(), unsigned(2 + i % 4));
    spec.table_method.assign(spec.tables.size(), int((i + 1) % 3));
    spec.table_rice.assign(spec.tables.size(), unsigned(1 + i % 3));
    frames.push_back(dsttest::write_frame(spec, in));
    // Our decoder and our decode check read them without ffmpeg too.
    ASSERT_EQ(dsttest::decode_one(frames.back(), channels, kBc), std::vector<uint8_t>(in, in + fb));
    varn::DstDecoder d;
    std::vector<uint8_t> scratch(fb);
    ASSERT_TRUE(varn::dst_decoder_init(d, channels, kBc));
    EXPECT_TRUE(varn::dst_check_frame(d, frames.back().data(), frames.back().size(), in, scratch.data())) << d.error;
  }
  varn::dst_encoder_close();
  if (!testsupport::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  expect_same_pcm(audio, channels, frames);
}

}  // namespace
