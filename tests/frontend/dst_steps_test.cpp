// The DST steps of reading a track: the prediction order, which tracks are coded, the
// three one-shot notes and what a coded track keeps. The notes are printed
// once per process, so the whole sequence is one test.
#include <gtest/gtest.h>

#include <string>

#include "dst/dst_test_util.h"
#include "frontend/stages.h"
#include "platform/platform.h"

namespace {

using dsdgen::SignalKind;

varn::InputTrack make_track(int channels, size_t frames, uint32_t rate = 2822400) {
  varn::InputTrack t;
  t.channels = static_cast<uint32_t>(channels);
  t.sample_rate = rate;
  t.rate_multiple = rate / (rate % 44100 == 0 ? 44100 : 48000);
  t.audio = dsttest::signal(SignalKind::Music, channels, rate, frames, 31);
  t.sample_count = t.audio.size() / static_cast<size_t>(channels) * 8;
  return t;
}

struct Stage {
  std::string err;
  varn::StageResult result;
  void order(varn::PackRun& run, varn::InputTrack& t) {
    testing::internal::CaptureStderr();
    varn::stage_dst_order(run, t);
    err = testing::internal::GetCapturedStderr();
  }
  void encode(varn::PackRun& run, varn::InputTrack& t) {
    testing::internal::CaptureStderr();
    result = varn::stage_dst_encode(run, t, "t.dsf");
    err = testing::internal::GetCapturedStderr();
  }
};

const char* kStereoNote =
    "  [DST] note: the 2ch (stereo) area is not DST-compressed => the ISO is about 2.4x the compressed size.\n"
    "        for a smaller file add --dst-stereo (the GUI packer has the \"also DST-compress the stereo area\" "
    "checkbox);\n"
    "        on a slow machine add --dst-fast (about +11% size, about 2.6x speed).\n";

TEST(DstStages, OrderNotesAndCodingDecisions) {
  Stage s;
  {
    // Stereo tracks without --dst-stereo: the note once, no coding and no
    // SIMD line.
    varn::PackRun run;
    varn::InputTrack a = make_track(2, 2), b = make_track(2, 2);
    s.order(run, a);
    EXPECT_EQ(a.dst_order, 128);
    EXPECT_EQ(s.err, kStereoNote);
    s.encode(run, a);
    EXPECT_EQ(s.err, "");
    EXPECT_FALSE(a.is_dst);
    EXPECT_FALSE(a.audio.empty());
    s.order(run, b);
    EXPECT_EQ(s.err, "");
    s.encode(run, b);
    EXPECT_EQ(s.err, "");
  }
  {
    // Prediction order: --dst-fast gives 32 unless --dst-compression was given.
    varn::PackRun run;
    varn::InputTrack t = make_track(6, 1);
    run.job.dst_fast = true;
    s.order(run, t);
    EXPECT_EQ(t.dst_order, 32);
    run.job.dst_order = 64;
    run.job.dst_order_given = true;
    s.order(run, t);
    EXPECT_EQ(t.dst_order, 64);
    EXPECT_EQ(s.err, "");
    // A 6-channel track with --no-encode stays plain, without notes.
    run.job.no_encode = true;
    s.encode(run, t);
    EXPECT_EQ(s.err, "");
    EXPECT_FALSE(t.is_dst);
  }
  {
    // The first coding prints the SIMD line and, after it, the thread note.
    varn::PackRun run;
    run.job.dst_threads = 3;
    varn::InputTrack t = make_track(6, 3);
    run.job.dst_fast = true;
    s.order(run, t);
    s.encode(run, t);
    const unsigned hw = varn::platform_hardware_threads();
    EXPECT_EQ(s.err, std::string("  [DST] encode SIMD: ") + varn::simd_name() + "\n  [DST] 3 frames encoded\n" +
                         "  [DST] encoding threads 3 (cores available " + std::to_string(hw) +
                         "), prediction order 32; if too slow add --dst-fast (about +11% size, about 2.6x speed)\n");
    EXPECT_TRUE(t.is_dst);
    EXPECT_EQ(t.dst_frames.size(), 3u);
    EXPECT_TRUE(t.audio.empty());
    EXPECT_EQ(t.audio.capacity(), 0u) << "the plain audio is given back";

    // Later codings print only the frame count.
    varn::InputTrack u = make_track(5, 2);
    run.job.dst_threads = 0;
    s.encode(run, u);
    EXPECT_EQ(s.err, "  [DST] 2 frames encoded\n");
    EXPECT_TRUE(u.is_dst);

    // Already DST (from a DSDIFF file): untouched.
    varn::InputTrack dst;
    dst.channels = 6;
    dst.is_dst = true;
    dst.dst_frames.push_back({0x00});
    s.encode(run, dst);
    EXPECT_EQ(s.err, "");
    EXPECT_EQ(dst.dst_frames.size(), 1u);

    // A track the coder cannot take ends the run: its area would not be
    // what was asked for.
    varn::InputTrack tiny = make_track(6, 1);
    tiny.audio.resize(1000);
    s.encode(run, tiny);
    EXPECT_EQ(s.err,
              "  DST: data too small (1000 bytes, need 28224 per frame)\n"
              "Error: t.dsf could not be DST-coded; nothing was written\n");
    EXPECT_EQ(s.result, varn::StageResult(1));
    EXPECT_FALSE(tiny.is_dst);

    // 1 and 2 channels are coded only with --dst-stereo, whatever --no-encode says.
    varn::InputTrack mono = make_track(1, 1), stereo = make_track(2, 1);
    s.encode(run, mono);
    EXPECT_FALSE(mono.is_dst);
    run.job.dst_stereo = true;
    run.job.no_encode = true;
    s.encode(run, mono);
    EXPECT_TRUE(mono.is_dst);
    s.encode(run, stereo);
    EXPECT_TRUE(stereo.is_dst);
    EXPECT_EQ(s.err, "  [DST] 1 frames encoded\n");
    // More than 2 channels with --no-encode: not coded.
    varn::InputTrack six = make_track(6, 1);
    s.encode(run, six);
    EXPECT_FALSE(six.is_dst);

    // A 48 kHz-based track: the base rate follows the sample rate.
    run.job.no_encode = false;
    varn::InputTrack k48 = make_track(6, 1, 3072000);
    s.encode(run, k48);
    EXPECT_TRUE(k48.is_dst);
    ASSERT_EQ(k48.dst_frames.size(), 1u);
  }
  {
    // The stereo note does not come back in a later run in the same process.
    varn::PackRun run;
    varn::InputTrack t = make_track(2, 1);
    s.order(run, t);
    EXPECT_EQ(s.err, "");
  }
}

}  // namespace
