// Interoperability with a general DST reader: a DSDIFF file whose DST chunk
// holds our frames decodes in ffmpeg to exactly the PCM of the plain DSD
// file of the same audio. ffmpeg 5.1 mis-places the samples of uncoded
// (plain) DST frames, so the material here is chosen to give coded frames
// only, and the test checks that it does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dst/dst_parallel.h"
#include "dst_frame_writer.h"
#include "dst_test_util.h"
#include "support/test_support.h"

namespace {

using dsdgen::SignalKind;
constexpr size_t kBc = 4704;

std::vector<uint8_t> ffmpeg_pcm(const std::string& in, const std::string& out) {
  const testsupport::RunResult r = testsupport::run_program(
      "ffmpeg", {"-nostdin", "-v", "error", "-y", "-i", in, "-f", "s32le", "-acodec", "pcm_s32le", out});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return testsupport::file_exists(out) ? testsupport::read_file(out) : std::vector<uint8_t>{};
}

void expect_same_pcm(const std::vector<uint8_t>& audio, int channels, const std::vector<varn::DstFrame>& frames,
                     const std::string& tag) {
  testsupport::ScratchDir dir;
  dsdgen::DffOptions plain;
  ASSERT_TRUE(dsdgen::write_dsdiff(dir.file("plain.dff"), static_cast<uint32_t>(channels), 2822400, audio, plain));
  dsdgen::DffOptions dst;
  dst.dst_frames = frames;
  ASSERT_TRUE(dsdgen::write_dsdiff(dir.file("dst.dff"), static_cast<uint32_t>(channels), 2822400, {}, dst));
  const std::vector<uint8_t> want = ffmpeg_pcm(dir.file("plain.dff"), dir.file("plain.raw"));
  const std::vector<uint8_t> got = ffmpeg_pcm(dir.file("dst.dff"), dir.file("dst.raw"));
  // DSD64 comes out at 352800 Hz: one PCM sample per DSD byte and channel.
  EXPECT_EQ(want.size(), audio.size() * 4) << tag;
  ASSERT_EQ(got.size(), want.size()) << tag;
  EXPECT_TRUE(got == want) << tag;
}

TEST(DstFfmpeg, OurFramesDecodeToThePcmOfThePlainFile) {
  if (!testsupport::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  for (int channels : {2, 5, 6}) {
    const std::vector<uint8_t> audio = dsttest::signal(SignalKind::Music, channels, 2822400, 12, 40u + static_cast<uint64_t>(channels));
    testing::internal::CaptureStderr();
    const std::vector<varn::DstFrame> frames =
        varn::dst_encode_track(audio.data(), audio.size(), channels, 64, 44100, channels == 2 ? 128 : 32, 2);
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(frames.size(), 12u);
    for (const varn::DstFrame& f : frames) ASSERT_EQ(f[0] & 0x80, 0x80) << "coded frames only";
    expect_same_pcm(audio, channels, frames, std::to_string(channels) + " channels");
  }
}

TEST(DstFfmpeg, CodedCoefficientAndTableFormsMatchFfmpeg) {
  // Our frames with their filters and tables rewritten in the coded (Rice
  // with prediction) forms by the test writer: ffmpeg reads them as we do.
  if (!testsupport::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  const int channels = 3;
  const std::vector<uint8_t> audio = dsttest::signal(SignalKind::Chirp, channels, 2822400, 6, 77);
  const size_t fb = kBc * channels;
  std::vector<varn::DstFrame> frames;
  ASSERT_TRUE(varn::Init(channels, 64, 44100, 48));
  for (size_t i = 0; i < 6; ++i) {
    const int n = static_cast<int>(i % channels) + 1;
    std::vector<uint8_t> ours = dsttest::encode_one(audio.data() + i * fb, fb, n);
    varn::DstFrameHeader h;
    std::string err;
    ASSERT_TRUE(varn::dst_parse_frame_header(ours.data(), ours.size(), channels, kBc, h, err)) << err;
    ASSERT_TRUE(h.dst_coded);
    std::vector<std::vector<int>> coefs, tables;
    for (size_t f = 0; f < h.filter_order.size(); ++f)
      coefs.emplace_back(h.coef[f].begin(), h.coef[f].begin() + h.filter_order[f]);
    for (size_t t = 0; t < h.table_length.size(); ++t)
      tables.emplace_back(h.table_entry[t].begin(), h.table_entry[t].begin() + h.table_length[t]);
    std::vector<unsigned> map;
    for (int c = 0; c < channels; ++c) map.push_back(h.filter_seg.table[static_cast<size_t>(c)][0]);
    dsttest::FrameSpec spec = dsttest::simple_spec(channels, kBc, map, coefs, tables);
    spec.coef_method.assign(coefs.size(), static_cast<int>(i % 3));
    spec.coef_rice.assign(coefs.size(), static_cast<unsigned>(2 + i % 4));
    spec.table_method.assign(tables.size(), static_cast<int>((i + 1) % 3));
    spec.table_rice.assign(tables.size(), static_cast<unsigned>(1 + i % 3));
    frames.push_back(dsttest::write_frame(spec, audio.data() + i * fb));
    ASSERT_EQ(dsttest::decode_one(frames.back(), channels, kBc),
              std::vector<uint8_t>(audio.begin() + static_cast<long>(i * fb), audio.begin() + static_cast<long>((i + 1) * fb)));
  }
  varn::dst_encoder_close();
  expect_same_pcm(audio, channels, frames, "coded forms");
}

}  // namespace
