// Which tracks the driver DST-codes, with which prediction order, and the
// one-shot notes (printed once per process: this suite runs in a process
// of its own, as one test).
#include <gtest/gtest.h>

#include "dst/dst_test_util.h"
#include "frontend/stages.h"
#include "support/capture.h"

namespace {

varn::InputTrack make_track(int channels, size_t frames, uint32_t rate = 2822400) {
  varn::InputTrack t;
  t.channels = uint32_t(channels);
  t.sample_rate = rate;
  t.rate_multiple = rate / (rate % 44100 == 0 ? 44100 : 48000);
  t.audio = dsttest::signal(dsdgen::SignalKind::Music, channels, rate, frames, 31);
  t.sample_count = t.audio.size() / size_t(channels) * 8;
  return t;
}

}  // namespace

TEST(DstStages, OrderNotesAndCodingDecisions) {
  using testsupport::capture;
  varn::PackRun run;
  varn::InputTrack a = make_track(2, 2), b = make_track(2, 2);
  // Stereo without --dst-stereo: plain, and the size note comes once.
  std::string err = capture([&] { varn::stage_dst_order(run, a); varn::stage_dst_encode(run, a, "a.dsf"); }).err;
  EXPECT_EQ(a.dst_order, 128);
  EXPECT_TRUE(testsupport::contains(err, "add --dst-stereo")) << err;
  EXPECT_FALSE(a.is_dst);
  EXPECT_EQ(capture([&] { varn::stage_dst_order(run, b); varn::stage_dst_encode(run, b, "b.dsf"); }).err, "");

  // --dst-fast gives order 32 unless --dst-compression was given.
  varn::InputTrack t = make_track(6, 3);
  run.job.dst_fast = true;
  capture([&] { varn::stage_dst_order(run, t); });
  EXPECT_EQ(t.dst_order, 32);
  run.job.dst_order = 64;
  run.job.dst_order_given = true;
  capture([&] { varn::stage_dst_order(run, t); });
  EXPECT_EQ(t.dst_order, 64);

  // The first coding prints the SIMD and thread notes once; the plain
  // audio is given back.
  err = capture([&] { varn::stage_dst_encode(run, t, "t.dsf"); }).err;
  EXPECT_TRUE(testsupport::contains(err, "[DST] encode SIMD: ")) << err;
  EXPECT_TRUE(t.is_dst);
  EXPECT_EQ(t.dst_frames.frames.size(), 3u);
  EXPECT_EQ(t.audio.capacity(), 0u);
  varn::InputTrack u = make_track(5, 2);
  EXPECT_EQ(capture([&] { varn::stage_dst_encode(run, u, "t.dsf"); }).err, "  [DST] 2 frames encoded\n");

  // Which tracks are coded: 1 and 2 channels only with --dst-stereo,
  // whatever --no-encode says; more only without --no-encode.
  struct Case {
    int channels;
    bool dst_stereo, no_encode, coded;
    uint32_t rate = 2822400;
  } cases[] = {{1, false, false, false}, {1, true, true, true},  {2, true, true, true},
               {6, true, true, false},   {6, false, true, false}, {6, false, false, true, 3072000}};
  for (const Case& c : cases) {
    varn::InputTrack k = make_track(c.channels, 1, c.rate);
    run.job.dst_stereo = c.dst_stereo;
    run.job.no_encode = c.no_encode;
    capture([&] { varn::stage_dst_encode(run, k, "t.dsf"); });
    EXPECT_EQ(k.is_dst, c.coded) << c.channels << " " << c.dst_stereo << c.no_encode;
  }
  // A track the coder cannot take ends the run.
  varn::InputTrack tiny = make_track(6, 1);
  tiny.audio.resize(1000);
  run.job.no_encode = false;
  varn::StageResult r;
  err = capture([&] { r = varn::stage_dst_encode(run, tiny, "t.dsf"); }).err;
  EXPECT_EQ(r, varn::StageResult(1));
  EXPECT_TRUE(testsupport::contains(err, "t.dsf could not be DST-coded; nothing was written")) << err;

  // The stereo note does not come back in a later run of the process.
  varn::PackRun later;
  varn::InputTrack s = make_track(2, 1);
  EXPECT_EQ(capture([&] { varn::stage_dst_order(later, s); }).err, "");
}
