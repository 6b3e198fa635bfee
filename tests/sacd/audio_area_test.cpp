// Audio sectors: byte-exact plain DSD and DST sectors, and the writer's
// sectors parsed back and reassembled against the input, with the plan's
// sector counts.
#include <gtest/gtest.h>

#include <random>

#include "sacd/audio_area.h"
#include "sacd/image_writer.h"
#include "sacd/layout.h"
#include "sacd_test_util.h"
#include "support/test_support.h"

using namespace varn;
using sacdtest::dst_track;
using sacdtest::pattern_track;
using sacdtest::plain_track;

namespace {

DiscLayout plan_layout(std::vector<InputTrack>& tracks) {
  DiscLayout l;
  l.tracks = &tracks;
  std::vector<uint64_t> two, mch;
  for (size_t i = 0; i < tracks.size(); ++i) (tracks[i].channels == 2 ? two : mch).push_back(i);
  l.stereo = plan_area(tracks, two);
  l.multi = plan_area(tracks, mch);
  place_fixed_positions(l, 5, 5);
  return l;
}

// The audio areas and their run-out as the image writer lays them out.
std::vector<uint8_t> write_image(const DiscLayout& l, bool& ok) {
  ImagePlan plan;
  std::vector<uint8_t> out;
  SectorSink sink;
  sink.memory = &out;
  ok = plan_audio_extents(l, plan) && write_plan_sectors(sink, plan, l);
  sink_flush(sink);
  return out;
}

}  // namespace

TEST(PlainSectors, ThreeFramesByteExact) {
  const InputTrack t = plain_track(2, 2822400, 3);
  const std::vector<uint8_t> s = pack_plain_dsd(t.audio.data(), t.audio.size(), 2, 64, 0, 44100);
  ASSERT_EQ(s.size(), 14u * 2048);
  const uint8_t headers[14] = {0x44, 0x40, 0x40, 0x40, 0x64, 0x40, 0x40, 0x40, 0x40, 0x64, 0x40, 0x40, 0x40, 0x40};
  for (int i = 0; i < 14; ++i) EXPECT_EQ(s[size_t(i) * 2048], headers[i]) << "sector " << i;

  // First sector: filler 24, audio 2016 with frame start, time code 0.
  const std::vector<uint8_t> head0 = {0x44, 0x18, 0x18, 0x97, 0xE0, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(s.begin(), s.begin() + 8), head0);
  for (int i = 8; i < 32; ++i) ASSERT_EQ(s[size_t(i)], 0);
  EXPECT_TRUE(std::equal(t.audio.begin(), t.audio.begin() + 2016, s.begin() + 32));

  // Inside a frame: filler 27, audio 2016.
  const uint8_t* s1 = s.data() + 2048;
  EXPECT_EQ(std::vector<uint8_t>(s1, s1 + 5), (std::vector<uint8_t>{0x40, 0x18, 0x1B, 0x17, 0xE0}));
  EXPECT_TRUE(std::equal(t.audio.begin() + 2016, t.audio.begin() + 4032, s1 + 32));

  // End of frame 0 (1344 bytes) and start of frame 1 (672 bytes).
  const uint8_t* s4 = s.data() + 4 * 2048;
  EXPECT_EQ(std::vector<uint8_t>(s4, s4 + 10),
            (std::vector<uint8_t>{0x64, 0x18, 0x16, 0x15, 0x40, 0x92, 0xA0, 0, 0, 1}));
  for (int i = 10; i < 32; ++i) ASSERT_EQ(s4[i], 0);
  EXPECT_TRUE(std::equal(t.audio.begin() + 8064, t.audio.begin() + 10080, s4 + 32));

  // Frame 2 starts in sector 9 after 672 bytes of frame 1.
  const uint8_t* s9 = s.data() + 9 * 2048;
  EXPECT_EQ(std::vector<uint8_t>(s9, s9 + 10),
            (std::vector<uint8_t>{0x64, 0x18, 0x16, 0x12, 0xA0, 0x95, 0x40, 0, 0, 2}));

  // The last sector is full here: filler 27 and 2016 bytes.
  const uint8_t* s13 = s.data() + 13 * 2048;
  EXPECT_EQ(std::vector<uint8_t>(s13, s13 + 5), (std::vector<uint8_t>{0x40, 0x18, 0x1B, 0x17, 0xE0}));
}

TEST(PlainSectors, ShortLastSectorAndTimeCodes) {
  // DSD64 5 channels: 23520-byte frames, 2 frames = 47040 = 23 x 2016 + 672.
  const InputTrack t = pattern_track(5, 2822400, 2);
  const std::vector<uint8_t> s = pack_plain_dsd(t.audio.data(), t.audio.size(), 5, 64, 4500 + 75 + 3, 44100);
  ASSERT_EQ(s.size(), 24u * 2048);
  EXPECT_EQ(std::vector<uint8_t>(s.begin() + 5, s.begin() + 8), (std::vector<uint8_t>{1, 1, 3}));
  const uint8_t* last = s.data() + 23 * 2048;
  // 2043 - 672 = 1371 filler bytes (0x55B), then 672 audio bytes.
  EXPECT_EQ(std::vector<uint8_t>(last, last + 5), (std::vector<uint8_t>{0x40, 0x1D, 0x5B, 0x12, 0xA0}));
  EXPECT_TRUE(std::equal(t.audio.end() - 672, t.audio.end(), last + 5 + 1371));
}

TEST(PlainSectors, ReassemblyOverRatesAndChannels) {
  const uint32_t rates[] = {2822400, 5644800, 11289600, 3072000, 6144000, 12288000};
  const uint32_t channels[] = {1, 2, 3, 5, 6};
  for (uint32_t rate : rates) {
    for (uint32_t ch : channels) {
      const uint32_t frames = 1 + (rate / 100000 + ch) % 4;
      const InputTrack t = pattern_track(ch, rate, frames);
      const uint32_t base = base_rate_of(rate);
      const uint64_t first = 123;
      const std::vector<uint8_t> s =
          pack_plain_dsd(t.audio.data(), t.audio.size(), ch, rate / base, first, base);
      ASSERT_EQ(s.size() / 2048, plan_area({t}, {0}).track_sectors[0]) << rate << " " << ch;
      const sacdtest::Reassembly r = sacdtest::reassemble(s.data(), s.size() / 2048);
      ASSERT_TRUE(r.ok);
      EXPECT_EQ(r.stream, t.audio) << rate << " " << ch;
      ASSERT_EQ(r.frames.size(), frames);
      // Every frame start carries the time code of its frame.
      uint64_t expect = first;
      for (size_t i = 0; i < s.size(); i += 2048) {
        const sacdtest::AudioSector a = sacdtest::parse_audio_sector(s.data() + i);
        if (i + 2048 < s.size()) {
          uint32_t audio = 0;
          for (const auto& p : a.packets)
            if (p.type == 2) audio += p.length;
          EXPECT_EQ(audio, 2016u);
        }
        for (const auto& info : a.frame_infos) EXPECT_EQ(sacdtest::time_code_frames(info), expect++);
      }
      EXPECT_EQ(expect, first + frames);
    }
  }
}

TEST(PlainSectors, PartialFrameIsPaddedLikeThePlan) {
  InputTrack t = pattern_track(2, 2822400, 2);
  t.audio.resize(9408 + 5000);
  const std::vector<uint8_t> s = pack_plain_dsd(t.audio.data(), t.audio.size(), 2, 64, 0, 44100);
  EXPECT_EQ(s.size() / 2048, plan_area({t}, {0}).track_sectors[0]);
  const sacdtest::Reassembly r = sacdtest::reassemble(s.data(), s.size() / 2048);
  ASSERT_EQ(r.stream.size(), 9408u * 2);
  EXPECT_TRUE(std::equal(t.audio.begin(), t.audio.end(), r.stream.begin()));
  for (size_t i = t.audio.size(); i < r.stream.size(); ++i) ASSERT_EQ(r.stream[i], 0x69);
}

TEST(DstSectors, ShortFramesOneSectorEach) {
  const InputTrack t = dst_track(2, 2822400, {100, 2041, 7, 1500});
  const std::vector<uint8_t> s = pack_dst(t.dst_frames, 2);
  ASSERT_EQ(s.size(), 4u * 2048);
  for (int i = 0; i < 4; ++i) {
    const uint8_t* p = s.data() + i * 2048;
    const uint32_t len = uint32_t(t.dst_frames[size_t(i)].size());
    EXPECT_EQ(p[0], 0x25);
    EXPECT_EQ(p[1], 0x90 | (len >> 8));
    EXPECT_EQ(p[2], len & 0xFF);
    EXPECT_EQ(std::vector<uint8_t>(p + 3, p + 6), (std::vector<uint8_t>{0, 0, uint8_t(i)}));
    EXPECT_EQ(p[6], 1 << 2);  // one sector, two channels
    EXPECT_TRUE(std::equal(t.dst_frames[size_t(i)].begin(), t.dst_frames[size_t(i)].end(), p + 7));
    for (size_t k = 7 + len; k < 2048; ++k) ASSERT_EQ(p[k], 0);
  }
}

TEST(DstSectors, FirstMiddleLastByteExact) {
  // 6 channels: frame 0 of 5000 bytes = 2041 + 2045 + 914, then 1125 bytes
  // of frame 1 (3000 bytes, which ends in one more sector).
  const InputTrack t = dst_track(6, 2822400, {5000, 3000});
  const std::vector<uint8_t> s = pack_dst(t.dst_frames, 6);
  ASSERT_EQ(s.size(), 4u * 2048);
  const DstFrame& f0 = t.dst_frames[0];
  const DstFrame& f1 = t.dst_frames[1];
  const uint8_t* a = s.data();
  EXPECT_EQ(std::vector<uint8_t>(a, a + 7), (std::vector<uint8_t>{0x25, 0x97, 0xF9, 0, 0, 0, 0x80 | (3 << 2) | 2}));
  EXPECT_TRUE(std::equal(f0.begin(), f0.begin() + 2041, a + 7));
  const uint8_t* b = s.data() + 2048;
  EXPECT_EQ(std::vector<uint8_t>(b, b + 3), (std::vector<uint8_t>{0x21, 0x17, 0xFD}));
  EXPECT_TRUE(std::equal(f0.begin() + 2041, f0.begin() + 4086, b + 3));
  const uint8_t* c = s.data() + 2 * 2048;
  // 914 = 0x392, 1125 = 0x465 with frame start; time code of frame 1 and
  // its sector count 2: every sector holding bytes of it.
  EXPECT_EQ(std::vector<uint8_t>(c, c + 9),
            (std::vector<uint8_t>{0x45, 0x13, 0x92, 0x94, 0x65, 0, 0, 1, 0x80 | (2 << 2) | 2}));
  EXPECT_TRUE(std::equal(f0.begin() + 4086, f0.end(), c + 9));
  EXPECT_TRUE(std::equal(f1.begin(), f1.begin() + 1125, c + 9 + 914));
  const uint8_t* d = s.data() + 3 * 2048;
  // The rest of frame 1, no frame start.
  EXPECT_EQ(std::vector<uint8_t>(d, d + 7), (std::vector<uint8_t>{0x25, 0x17, 0x53, 0, 0, 1, 0x80 | (2 << 2) | 2}));
  EXPECT_TRUE(std::equal(f1.begin() + 1125, f1.end(), d + 7));
}

TEST(DstSectors, FrameInfoChannelBits) {
  EXPECT_EQ(dst_frame_info_byte(6, 1), 0x80 | 0x04 | 0x02);
  EXPECT_EQ(dst_frame_info_byte(5, 1), 0x80 | 0x04 | 0x01);
  EXPECT_EQ(dst_frame_info_byte(2, 1), 0x04);
  EXPECT_EQ(dst_frame_info_byte(2, 31), 31 << 2);
}

TEST(DstSectors, WholeFrameInPreviousSector) {
  // Frame 1 (500 bytes) lies whole in frame 0's last sector: its frame
  // info there has its time code and sector count 1; frame 2 starts afresh.
  const InputTrack t = dst_track(2, 2822400, {3000, 500, 100});
  const std::vector<uint8_t> s = pack_dst(t.dst_frames, 2);
  ASSERT_EQ(s.size(), 3u * 2048);
  const uint8_t* last = s.data() + 2048;
  EXPECT_EQ(std::vector<uint8_t>(last, last + 9),
            (std::vector<uint8_t>{0x45, 0x13, 0xBF, 0x91, 0xF4, 0, 0, 1, 0x04}));
  // A last sector without a next frame's head holds one packet and no
  // frame info (959 = 0x3BF bytes of frame 0).
  const std::vector<uint8_t> alone = pack_dst({t.dst_frames[0]}, 2);
  ASSERT_EQ(alone.size(), 2u * 2048);
  EXPECT_EQ(std::vector<uint8_t>(alone.begin() + 2048, alone.begin() + 2051),
            (std::vector<uint8_t>{0x21, 0x13, 0xBF}));
  EXPECT_TRUE(std::equal(t.dst_frames[0].begin() + 2041, t.dst_frames[0].end(), alone.begin() + 2051));
  const uint8_t* third = s.data() + 2 * 2048;
  EXPECT_EQ(std::vector<uint8_t>(third, third + 7), (std::vector<uint8_t>{0x25, 0x90, 100, 0, 0, 2, 0x04}));
}

TEST(DstSectors, RandomSequencesReassemble) {
  std::mt19937 rng(20240601);
  const uint32_t special[] = {1, 2, 2038, 2039, 2040, 2041, 2042, 4079, 4080, 4081, 4086, 4087, 6131, 6125};
  for (int round = 0; round < 300; ++round) {
    const uint32_t n = 1 + rng() % 40;
    std::vector<uint32_t> lengths;
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t pick = rng() % 4;
      if (pick == 0) lengths.push_back(special[rng() % (sizeof special / sizeof special[0])]);
      else if (pick == 1) lengths.push_back(1 + rng() % 600);
      else lengths.push_back(1 + rng() % 12000);
    }
    const uint32_t ch = (round % 3 == 0) ? 2 : (round % 3 == 1) ? 5 : 6;
    const InputTrack t = dst_track(ch, 2822400, lengths, uint64_t(round));
    const std::vector<uint8_t> s = pack_dst(t.dst_frames, ch);
    uint64_t planned = 0;
    for (const DstFramePack& p : dst_packing_table(lengths)) planned += p.sectors;
    ASSERT_EQ(s.size() / 2048, planned) << "round " << round;
    const sacdtest::Reassembly r = sacdtest::reassemble(s.data(), s.size() / 2048);
    ASSERT_TRUE(r.ok) << "round " << round;
    ASSERT_EQ(r.frames.size(), t.dst_frames.size()) << "round " << round;
    for (size_t i = 0; i < r.frames.size(); ++i) ASSERT_EQ(r.frames[i], t.dst_frames[i]) << round << "/" << i;
    for (size_t i = 0; i < s.size(); i += 2048) {
      const uint8_t h = s[i];
      ASSERT_TRUE(h == 0x25 || h == 0x21 || h == 0x45) << int(h);
    }
  }
}

TEST(AudioWriter, BothAreasWithPauseAndRunOut) {
  std::vector<InputTrack> tracks = {plain_track(2, 2822400, 4, 1), dst_track(6, 2822400, {5000, 3000, 200, 9000}),
                                    plain_track(2, 2822400, 3, 2), dst_track(6, 2822400, {4086, 100})};
  tracks[2].pause_frames = 2;  // 2 x 9408 = 18816 bytes: 10 sectors
  const DiscLayout l = plan_layout(tracks);
  ASSERT_EQ(l.audio_start_lsn, 550u);
  EXPECT_EQ(l.stereo.track_sectors, (std::vector<uint32_t>{19, 14}));
  EXPECT_EQ(l.stereo.track_start, (std::vector<uint32_t>{0, 29}));
  bool ok = false;
  const std::vector<uint8_t> img = write_image(l, ok);
  ASSERT_TRUE(ok);
  const uint32_t mch_start = 550 + l.stereo.total_sectors;
  // The multichannel area (DST, no run-out) ends the file.
  ASSERT_EQ(img.size(), size_t(mch_start + l.multi.total_sectors) * 2048);

  // 2ch: track 1, the pause (0x55, time codes 4 and 5), track 2 from frame 6.
  const uint8_t* a = img.data() + 550 * 2048;
  const sacdtest::Reassembly t1 = sacdtest::reassemble(a, 19);
  EXPECT_EQ(t1.stream, tracks[0].audio);
  const sacdtest::Reassembly pause = sacdtest::reassemble(a + 19 * 2048, 10);
  ASSERT_EQ(pause.stream.size(), 18816u);
  for (uint8_t b : pause.stream) ASSERT_EQ(b, 0x55);
  EXPECT_EQ(a[19 * 2048 + 5 + 2], 4);
  const uint8_t* t2s = a + 29 * 2048;
  EXPECT_EQ(std::vector<uint8_t>(t2s, t2s + 8), (std::vector<uint8_t>{0x44, 0x18, 0x18, 0x97, 0xE0, 0, 0, 6}));
  EXPECT_EQ(sacdtest::reassemble(t2s, 14).stream, tracks[2].audio);
  // In the image the multichannel audio follows the stereo audio directly;
  // the run-out of the 2ch pass lies where the multichannel area begins.
  const sacdtest::Reassembly m = sacdtest::reassemble(img.data() + size_t(mch_start) * 2048, l.multi.total_sectors);
  ASSERT_EQ(m.frames.size(), 6u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(m.frames[i], tracks[1].dst_frames[i]);
  EXPECT_EQ(m.frames[4], tracks[3].dst_frames[0]);
  EXPECT_EQ(m.frames[5], tracks[3].dst_frames[1]);
  // Track 2 of the multichannel area starts where the plan says, with the
  // start of its first frame: the last sector of track 1 holds only the
  // end of track 1.
  const size_t t2 = size_t(mch_start + l.multi.track_start[1]) * 2048;
  EXPECT_EQ(img[t2 - 2048], 0x21);
  EXPECT_EQ(img[t2], 0x25);
  EXPECT_EQ(img[t2 + 1] & 0x80, 0x80);
  EXPECT_EQ(l.multi.track_sectors, (std::vector<uint32_t>{10, 3}));
  // Start times: the plain tracks' count the pause, the DST tracks' run on.
  EXPECT_EQ(l.stereo.track_time, (std::vector<uint32_t>{0, 6}));
  EXPECT_EQ(l.multi.track_time, (std::vector<uint32_t>{0, 4}));
}

TEST(AudioWriter, RunOutAfterThePlainArea) {
  std::vector<InputTrack> tracks = {pattern_track(2, 2822400, 3)};
  const DiscLayout l = plan_layout(tracks);
  bool ok = false;
  const std::vector<uint8_t> img = write_image(l, ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(img.size(), size_t(545 + 14 + 2) * 2048);
  for (int k = 0; k < 2; ++k) {
    const uint8_t* r = img.data() + size_t(545 + 14 + k) * 2048;
    EXPECT_EQ(r[0], 0x20);
    EXPECT_EQ(r[1], 0x04);
    EXPECT_EQ(r[2], 0x00);
    for (int i = 3; i < 2048; ++i) ASSERT_EQ(r[i], 0x55);
  }
}

TEST(AudioWriter, PlanMismatchIsReported) {
  std::vector<InputTrack> tracks = {pattern_track(2, 2822400, 3)};
  DiscLayout l = plan_layout(tracks);
  l.stereo.total_sectors = 13;
  bool ok = true;
  const sacdtest::Capture c = sacdtest::capture_output([&] { write_image(l, ok); });
  EXPECT_FALSE(ok);
  EXPECT_NE(c.err.find("planned 13"), std::string::npos) << c.err;
}

TEST(AudioWriter, StreamsThroughASmallBuffer) {
  // A sink of 3 sectors gives the same bytes as one big buffer.
  const InputTrack t = pattern_track(6, 2822400, 5);
  std::vector<uint8_t> small, big;
  SectorSink a;
  a.memory = &small;
  a.capacity = 3;
  pack_plain_stream(a, t.audio.data(), t.audio.size(), t.audio.size(), 0x69, 28224, 0);
  sink_flush(a);
  SectorSink b;
  b.memory = &big;
  pack_plain_stream(b, t.audio.data(), t.audio.size(), t.audio.size(), 0x69, 28224, 0);
  sink_flush(b);
  EXPECT_EQ(small, big);
  EXPECT_EQ(a.sectors, 70u);
}
