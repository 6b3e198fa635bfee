// Audio sectors: plain DSD and DST sectors byte for byte, the writer's
// sectors taken apart and reassembled against the input with the plan's
// sector counts, pauses and run-out.
#include <gtest/gtest.h>

#include <random>

#include "sacd/audio_area.h"
#include "sacd/image_writer.h"
#include "sacd_test_util.h"

using namespace varn;
using sacdtest::dst_track;
using sacdtest::pattern_track;
using Bytes = std::vector<uint8_t>;
using testsupport::sha256_of;

namespace {
// The audio areas and their run-out as the image writer lays them out.
Bytes audio_image(const DiscLayout& l, bool& ok, std::string* why = nullptr) {
  ImagePlan plan;
  Bytes out;
  SectorSink sink;
  sink.memory = &out;
  const bool planned = plan_audio_extents(l, plan);
  const Status failed = planned ? write_plan_sectors(sink, plan, l) : Status(Error{});
  ok = !failed;
  if (failed && why) *why = failed->text;
  sink_flush(sink);
  return out;
}
}  // namespace

TEST(PlainSectors, ByteExact) {
  // DSD64 stereo, 3 frames in 14 sectors: a frame start's sector holds
  // filler 24, audio 2016 and the time code (0x44 then, 0x64 where frame 0's
  // last 1344 bytes and 672 of frame 1 meet), a sector inside a frame
  // filler 27 and audio 2016 (0x40).
  const InputTrack t = pattern_track(2, 2822400, 3);
  const Bytes s = pack_plain_dsd(t.audio.data(), t.audio.size(), 2, 64, 0, 44100);
  EXPECT_EQ(sha256_of(s), "ff258573570cf6a49d871f161135f88cfa67df994078a354e8960f9efbf8161b");
  // DSD64 5 channels: 2 frames = 23 x 2016 + 672; the last sector holds
  // 1371 filler bytes before its 672; time code 1:01:03.
  const InputTrack f = pattern_track(5, 2822400, 2);
  EXPECT_EQ(sha256_of(pack_plain_dsd(f.audio.data(), f.audio.size(), 5, 64, 4500 + 75 + 3, 44100)),
            "1f8ce7faf7b73d3a5a556210ad41c3a33d0c51adda4c527b69ec1b0895dafc16");
}

TEST(PlainSectors, ReassemblyOverRatesAndChannels) {
  for (uint32_t rate : {2822400u, 5644800u, 11289600u, 3072000u, 6144000u, 12288000u}) {
    for (uint32_t ch : {1u, 2u, 3u, 5u, 6u}) {
      const uint32_t frames = 1 + (rate / 100000 + ch) % 4;
      InputTrack t = pattern_track(ch, rate, frames);
      const bool part = ch == 3;  // a partial last frame is padded with 0x69
      if (part) t.audio.resize(t.audio.size() - 1000);
      const uint32_t base = base_rate_of(rate);
      const Bytes s = pack_plain_dsd(t.audio.data(), t.audio.size(), ch, rate / base, 123, base);
      ASSERT_EQ(s.size() / 2048, plan_area({t}, {0}).track_sectors[0]) << rate << " " << ch;
      const sacdtest::Reassembly r = sacdtest::reassemble(s.data(), s.size() / 2048);
      ASSERT_TRUE(r.ok);
      ASSERT_EQ(r.frames.size(), frames);
      EXPECT_TRUE(std::equal(t.audio.begin(), t.audio.end(), r.stream.begin())) << rate << " " << ch;
      EXPECT_EQ(r.stream.size() - t.audio.size(), part ? 1000u : 0u);
      EXPECT_EQ(r.stream.back(), part ? 0x69 : t.audio.back());
      // Every sector but the last is full, and every frame start carries
      // the time code of its frame.
      uint64_t expect = 123;
      for (size_t i = 0; i < s.size(); i += 2048) {
        const sacdtest::AudioSector a = sacdtest::parse_audio_sector(s.data() + i);
        uint32_t audio = 0;
        for (const auto& p : a.packets) audio += p.type == 2 ? p.length : 0;
        EXPECT_TRUE(audio == 2016u || i + 2048 == s.size());
        for (const auto& info : a.frame_infos) EXPECT_EQ(info[0] * 4500u + info[1] * 75u + info[2], expect++);
      }
      EXPECT_EQ(expect, 123 + frames);
    }
  }
}

TEST(DstSectors, ByteExact) {
  const auto packed = [](uint32_t channels, const std::vector<uint32_t>& lengths, size_t frames = SIZE_MAX) {
    std::vector<DstFrame> f = testsupport::stored_frames(dst_track(channels, 2822400, lengths).dst_frames);
    f.resize(std::min(frames, f.size()));
    return sha256_of(pack_dst(f, channels));
  };
  // Frames of one sector each: header 0x25, one packet, one frame info.
  EXPECT_EQ(packed(2, {100, 2041, 7}), "b35f503a887b9c45b48b64e8bb7e8bab35d99f7e3dff708d739052cf58fabbfd");
  // 6 channels: frame 0 of 5000 bytes = 2041 + 2045 + 914, then 1125 of
  // frame 1 (3000 bytes), its time code and sector count 2, then its rest.
  EXPECT_EQ(packed(6, {5000, 3000}), "0b4862f830ca11c2bc9bc658a04748913b29378611971a1f9e42b58ddce40c7e");
  // Frame 1 (500 bytes) wholly in frame 0's last sector: time code and a
  // count of 1 there. A last sector without a next frame's head holds one
  // packet and no frame info.
  EXPECT_EQ(packed(2, {3000, 500, 100}), "fd0e79ad0ee43625f2a3f45249331b2ef7f31de9bdbbd88c7cad288b9a8f1c98");
  EXPECT_EQ(packed(2, {3000, 500, 100}, 1), "c8829287819e518116fa1120054f67f17ab8b17df2769a594de592103ddb6370");
}

TEST(DstSectors, RandomSequencesReassemble) {
  std::mt19937 rng(20240601);
  const uint32_t special[] = {1, 2, 2038, 2039, 2040, 2041, 2042, 4079, 4080, 4081, 4086, 4087, 6131, 6125};
  for (int round = 0; round < 300; ++round) {
    std::vector<uint32_t> lengths(1 + rng() % 40);
    for (uint32_t& len : lengths) {
      const uint32_t pick = rng() % 4;
      len = pick == 0 ? special[rng() % 14] : pick == 1 ? 1 + rng() % 600 : 1 + rng() % 12000;
    }
    const uint32_t ch = round % 3 == 0 ? 2 : round % 3 == 1 ? 5 : 6;
    const InputTrack t = dst_track(ch, 2822400, lengths, uint64_t(round));
    const std::vector<DstFrame> tf = testsupport::stored_frames(t.dst_frames);
    const Bytes s = pack_dst(tf, ch);
    uint64_t planned = 0;
    for (const DstFramePack& p : dst_packing_table(lengths)) planned += p.sectors;
    ASSERT_EQ(s.size() / 2048, planned) << "round " << round;
    const sacdtest::Reassembly r = sacdtest::reassemble(s.data(), s.size() / 2048);
    ASSERT_TRUE(r.ok) << "round " << round;
    ASSERT_EQ(r.frames, tf) << "round " << round;
    for (size_t i = 0; i < s.size(); i += 2048) ASSERT_TRUE(s[i] == 0x25 || s[i] == 0x21 || s[i] == 0x45) << int(s[i]);
  }
}

TEST(AudioWriter, BothAreasWithPauseAndRunOut) {
  std::vector<InputTrack> tracks = {pattern_track(2, 2822400, 4), dst_track(6, 2822400, {5000, 3000, 200, 9000}),
                                    pattern_track(2, 2822400, 3), dst_track(6, 2822400, {4086, 100})};
  tracks[2].pause_frames = 2;  // 2 x 9408 bytes: 10 sectors
  DiscLayout l = sacdtest::plan(tracks);
  EXPECT_EQ(l.stereo.track_sectors, (std::vector<uint32_t>{19, 14}));
  EXPECT_EQ(l.stereo.track_start, (std::vector<uint32_t>{0, 29}));
  EXPECT_EQ(l.multi.track_sectors, (std::vector<uint32_t>{10, 3}));
  // Start times: the plain tracks' count the pause, the DST tracks' run on.
  EXPECT_EQ(l.stereo.track_time, (std::vector<uint32_t>{0, 6}));
  EXPECT_EQ(l.multi.track_time, (std::vector<uint32_t>{0, 4}));
  bool ok = false;
  const Bytes img = audio_image(l, ok);
  ASSERT_TRUE(ok);
  const uint32_t mch = 550 + l.stereo.total_sectors;
  ASSERT_EQ(img.size(), size_t(mch + l.multi.total_sectors) * 2048);  // no run-out after DST
  const uint8_t* a = img.data() + 550 * 2048;
  EXPECT_EQ(sacdtest::reassemble(a, 19).stream, tracks[0].audio);
  const sacdtest::Reassembly pause = sacdtest::reassemble(a + 19 * 2048, 10);
  EXPECT_EQ(pause.stream, Bytes(18816, 0x55));
  EXPECT_EQ(sacdtest::reassemble(a + 29 * 2048, 14).stream, tracks[2].audio);
  const sacdtest::Reassembly m = sacdtest::reassemble(img.data() + size_t(mch) * 2048, l.multi.total_sectors);
  // The frames were read back from the spool they were kept in.
  std::vector<DstFrame> want = testsupport::stored_frames(tracks[1].dst_frames);
  const std::vector<DstFrame> more = testsupport::stored_frames(tracks[3].dst_frames);
  want.insert(want.end(), more.begin(), more.end());
  EXPECT_EQ(m.frames, want);
  // The pause's time codes run on, the stereo track 2 starts at 0:06, and
  // the multichannel track 2 starts a sector with its first frame.
  EXPECT_EQ(sha256_of(img), "4c4ff872b16d5c3322e59e3694bc84693ba854e33bac9119636d5a064bbe1c81");

  // A plain area ends with two run-out sectors; a plan the sectors do not
  // match is reported.
  std::vector<InputTrack> one = {pattern_track(2, 2822400, 3)};
  l = sacdtest::plan(one);
  const Bytes r = audio_image(l, ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(r.size(), size_t(545 + 14 + 2) * 2048);
  // Run-out sectors: 0x20, 0x04, 0x00, then 0x55.
  testsupport::expect_pinned(r, {{545 + 14, 2, "01fa2286d811283a0998dadf2dc34fbcc4c9335325bd6d385debe9ac319b40ee"}});
  l.stereo.total_sectors = 13;
  std::string why;
  audio_image(l, ok, &why);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(testsupport::contains(why, "planned 13")) << why;
}
