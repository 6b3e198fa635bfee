// The inspection dump: its text files and sector files in process, and the
// console program run with -o DIR/ over generated DSF files.
#include <gtest/gtest.h>

#include <cstring>

#include "sacd/layout.h"
#include "sacd/toc_dump.h"
#include "sacd_test_util.h"
#include "support/test_support.h"

using namespace varn;
using sacdtest::dst_track;
using sacdtest::pattern_track;

namespace {

DiscLayout plan(std::vector<InputTrack>& tracks) {
  DiscLayout l;
  l.tracks = &tracks;
  std::vector<uint64_t> two, mch;
  for (size_t i = 0; i < tracks.size(); ++i) (tracks[i].channels == 2 ? two : mch).push_back(i);
  l.stereo = plan_area(tracks, two);
  l.multi = plan_area(tracks, mch);
  place_fixed_positions(l, 5, 5);
  return l;
}

}  // namespace

TEST(TocDump, LayoutInWords) {
  std::vector<InputTrack> tracks = {pattern_track(2, 2822400, 75), pattern_track(6, 2822400, 10),
                                    pattern_track(2, 2822400, 3)};
  tracks[2].pause_frames = 150;
  const DiscLayout l = plan(tracks);
  EXPECT_EQ(dump_toc_text(l),
            "SACD ISO Layout\n===============\n"
            "Master TOC             LSN 510 (0..509 = padding)\n"
            "Area 1 (2ch)           LSN 540 (5 sectors)\n"
            "  Audio sectors: 1064  Tracks: 2\n"
            "  Track 1      offset 0, 75 frames\n"
            "  Track 2      offset 1050, 3 frames\n"
            "Area 2 (Mch)           LSN 545 (5 sectors)\n"
            "  Audio sectors: 140  Tracks: 1\n"
            "  Track 1      offset 0, 10 frames\n"
            "SACD Text              LSN 511\n"
            "SACD_Man               LSN 519\n"
            "Area Data              LSN 540 (blocks: SACDTTxt@+1, SACDTRL1@+2, SACDTRL2@+3, SACD_IGL@+4)\n"
            "Audio Start            LSN 550\n"
            "\nTotal sectors: 1244 (~2 MB)\n");
}

TEST(TocDump, MultichannelOnly) {
  std::vector<InputTrack> tracks = {dst_track(6, 2822400, {3000, 3000})};
  const DiscLayout l = plan(tracks);
  const std::string toc = dump_toc_text(l);
  EXPECT_EQ(toc.find("2ch"), std::string::npos);
  EXPECT_NE(toc.find("Area 1 (Mch)           LSN 540 (5 sectors)\n"), std::string::npos) << toc;
  const std::vector<uint8_t> m = dump_master_toc(l, CivilTime{2020, 2, 3});
  ASSERT_EQ(m.size(), 168u);
  EXPECT_EQ(testsupport::be32(&m[64]), 540u);
  EXPECT_EQ(testsupport::be16(&m[84]), 5u);
  EXPECT_EQ(testsupport::be32(&m[72]), 0u);
  const std::vector<uint8_t> a = dump_area_toc(l, true);
  EXPECT_EQ(std::vector<uint8_t>(a.begin() + 8, a.begin() + 12), (std::vector<uint8_t>{1, 0x14, 0, 5}));
  EXPECT_EQ(a[20], 4);
  EXPECT_EQ(a[21], 2);
  EXPECT_EQ(a[32], 6);
  EXPECT_EQ(a[33], 4);
  EXPECT_EQ(testsupport::be32(&a[72]), 545u);
  EXPECT_EQ(testsupport::be32(&a[76]), 545u + l.multi.total_sectors - 1);
  EXPECT_EQ(l.multi.total_sectors, 3u);
  EXPECT_EQ(a[128], 8);
  EXPECT_EQ(a[88], 0);  // no language entry
}

TEST(TocDump, SectorsAndDetail) {
  std::vector<InputTrack> tracks = {pattern_track(2, 2822400, 2), pattern_track(5, 2822400, 1)};
  tracks[0].album = "K\xC3\xB6ln";
  tracks[0].title = "Opening";
  tracks[0].artist = "Band";
  tracks[1].pause_frames = 75;
  const DiscLayout l = plan(tracks);
  const std::vector<uint8_t> m = dump_master_toc(l, CivilTime{2020, 2, 3});
  EXPECT_EQ(std::string(m.begin() + 24, m.begin() + 40), "0000000000000000");
  EXPECT_EQ(m[138], 2);
  const std::vector<uint8_t> text = dump_master_text(tracks);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&text[48])), "K??ln");
  EXPECT_EQ(testsupport::be16(&text[18]), 54u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&text[54])), "Band");
  const std::vector<uint8_t> five = dump_area_toc(l, true);
  EXPECT_EQ(five[33], 3);

  const std::string detail = dump_detail_text(m, dump_area_toc(l, false), five, text, tracks);
  EXPECT_NE(detail.find("disc_date                      2020-02-03\n"), std::string::npos);
  EXPECT_NE(detail.find("locale[0]            lang=en charset=2\n"), std::string::npos);
  EXPECT_NE(detail.find("\n--- Area 1 (2ch) ---\nid                           TWOCHTOC\n"), std::string::npos);
  EXPECT_NE(detail.find("\n--- Area 2 (Mch) ---\n"), std::string::npos);
  EXPECT_NE(detail.find("loudspeaker_config           3 (5.0)\n"), std::string::npos);
  EXPECT_NE(detail.find("total_playtime               00:00:00 (2 frames)\n"), std::string::npos);
  EXPECT_NE(detail.find("track_text_offset            LSN offset 2048\n"), std::string::npos);
  EXPECT_NE(detail.find("\n--- SACD Text ---\nid                           SACDText\n"
                        "album_title                  K??ln\nalbum_artist                 Band\n"
                        "disc_title                   K??ln\ndisc_artist                  Band\n"),
            std::string::npos)
      << detail;
  EXPECT_NE(detail.find("Track 2:\n  channels               5\n  DSD rate               64\n"), std::string::npos);
  EXPECT_NE(detail.find("  DSD sectors            12 sectors\n  pause                  75 frames (1.0 sec)\n"),
            std::string::npos);
  EXPECT_NE(detail.find("  data size              18816 bytes\n"), std::string::npos);
  EXPECT_NE(detail.find("  title                  Opening\n  performer              Band\n"), std::string::npos);

  EXPECT_EQ(dump_tracks_text(tracks),
            "Track 1\n  Channels: 2  Samples: 75264  Frames: 2\n  Title: Opening\n  Performer: Band\n"
            "  Album: K\xC3\xB6ln\n\nTrack 2\n  Channels: 5  Samples: 37632  Frames: 1\n\n");
}

TEST(TocDump, FilesWrittenIntoANewDirectory) {
  testsupport::ScratchDir dir;
  std::vector<InputTrack> tracks = {pattern_track(2, 2822400, 2)};
  const DiscLayout l = plan(tracks);
  const std::string out = dir.file("new/sub");
  int rc = -1;
  const sacdtest::Capture c = sacdtest::capture_output([&] { rc = write_toc_dump(out, l); });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(c.out, "  ok " + out + "/toc.txt\n  ok " + out + "/tracks.txt\n  ok " + out +
                       "/master_toc.bin (168 bytes)\n  ok " + out + "/area_toc_2ch.bin (2048 bytes)\n  ok " +
                       out + "/sacd_text.bin (2048 bytes)\n  ok " + out + "/toc_detail.txt\n");
  EXPECT_EQ(testsupport::read_file(out + "/master_toc.bin").size(), 168u);
  EXPECT_FALSE(testsupport::file_exists(out + "/area_toc_mch.bin"));
  EXPECT_EQ(testsupport::read_text(out + "/toc.txt"), dump_toc_text(l));

  // A directory that cannot be made is reported, not passed as success.
  testsupport::write_text(dir.file("plain"), "x");
  const sacdtest::Capture bad = sacdtest::capture_output([&] { rc = write_toc_dump(dir.file("plain"), l); });
  EXPECT_EQ(rc, 1);
  EXPECT_NE(bad.err.find("cannot write"), std::string::npos);
}

TEST(TocDumpProgram, InspectModeOverDsfFiles) {
  testsupport::ScratchDir dir;
  const std::string a = dir.file("01 - One.dsf"), b = dir.file("b.dsf");
  ASSERT_EQ(testsupport::run_program(VARN_TEST_DSDGEN, {"--seconds", "1", "--repeat-period-bytes", "4096", "--artist", "Me", a}).exit_code, 0);
  ASSERT_EQ(testsupport::run_program(VARN_TEST_DSDGEN, {"--seconds", "1", "--repeat-period-bytes", "4096", "--channels", "6", b}).exit_code, 0);
  const std::string out = dir.file("dump") + "/";
  const testsupport::RunResult r = testsupport::run_varntessel({"-o", out, a, b, "--no-encode", "--pause", "75"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("\nISO Layout:\n  Master TOC  LSN 510\n  Area 1(2ch) LSN 540 (5 blocks)\n"
                       "  Area 2(Mch) LSN 545 (5 blocks)\n  SACD Text   LSN 511\n  SACD_Man    LSN 519\n"
                       "  Audio Start LSN 550\n  Stereo: 350 LSNs  Multi: 1050 LSNs\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\nDumping TOC to '" + dir.file("dump") + "/':\n  ok " + dir.file("dump") + "/toc.txt\n"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(testsupport::file_exists(dir.file("dump/area_toc_mch.bin")));
  EXPECT_NE(testsupport::read_text(dir.file("dump/toc_detail.txt")).find("75 frames (1.0 sec)"), std::string::npos);
  EXPECT_FALSE(testsupport::file_exists(dir.file("dump.iso")));

  const std::string mch_out = dir.file("mch") + "/";
  const testsupport::RunResult m = testsupport::run_varntessel({"-o", mch_out, b, "--no-encode"});
  ASSERT_EQ(m.exit_code, 0) << m.err;
  EXPECT_NE(m.out.find("  Area 1(Mch) LSN 540 (5 blocks)\n"), std::string::npos);
  EXPECT_FALSE(testsupport::file_exists(dir.file("mch/area_toc_2ch.bin")));
  EXPECT_EQ(testsupport::read_text(dir.file("mch/toc.txt")).find("Area 1 (2ch)"), std::string::npos);
}

TEST(TocDumpProgram, MixedStereoCodingRefused) {
  testsupport::ScratchDir dir;
  const std::string a = dir.file("a.dsf"), d = dir.file("d.dff");
  ASSERT_EQ(testsupport::run_program(VARN_TEST_DSDGEN, {"--seconds", "1", "--repeat-period-bytes", "4096", a}).exit_code, 0);
  dsdgen::DffOptions opt;
  for (int i = 0; i < 10; ++i) {
    std::vector<uint8_t> frame(1 + 9408, 0x69);
    frame[0] = 0x00;
    opt.dst_frames.push_back(frame);
  }
  ASSERT_TRUE(dsdgen::write_dsdiff(d, 2, 2822400, {}, opt));
  const testsupport::RunResult r = testsupport::run_varntessel({"-o", dir.file("x") + "/", a, d});
  EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("--dst-stereo"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("ISO Layout"), std::string::npos);
  EXPECT_FALSE(testsupport::file_exists(dir.file("x/toc.txt")));
}
