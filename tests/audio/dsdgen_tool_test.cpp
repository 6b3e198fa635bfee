// The dsdgen tool: its command line, its files read back by our readers,
// and the same files read by ffprobe as an independent reader.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/input_track.h"
#include "audio_test_util.h"
#include "support/test_support.h"

using namespace audiotest;
using testsupport::run_program;
using testsupport::ScratchDir;
using varn::InputTrack;

namespace {

const std::string kDsdgen = VARN_TEST_DSDGEN;

std::string probe(const std::string& path) {
  testsupport::RunResult r = run_program(
      "ffprobe", {"-v", "error", "-show_entries", "stream=codec_name,channels,sample_rate:format_tags",
                  "-of", "default=nw=1", path});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out;
}

}  // namespace

TEST(DsdgenTool, HelpAndBadOptions) {
  EXPECT_EQ(run_program(kDsdgen, {"--help"}).exit_code, 0);
  EXPECT_EQ(run_program(kDsdgen, {"--bogus", "x.dsf"}).exit_code, 2);
  EXPECT_EQ(run_program(kDsdgen, {}).exit_code, 2);
  EXPECT_EQ(run_program(kDsdgen, {"--signal", "whistle", "x.dsf"}).exit_code, 2);
}

TEST(DsdgenTool, DsdiffFromTheCommandLine) {
  ScratchDir dir;
  const std::string path = dir.file("cli.dff");
  testsupport::RunResult r =
      run_program(kDsdgen, {"--channels", "6", "--samples", "37632", "--signal", "tone",
                            "--repeat-period-bytes", "1000", "--didx-title", "DT", "--didx-artist",
                            "DA", "--comt-genre", "Jazz", path});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  dsdgen::SignalOptions o;
  o.kind = dsdgen::SignalKind::Tone;
  o.channels = 6;
  o.samples = 37632;
  InputTrack t;
  ReadResult run = run_dff(path, t);
  ASSERT_TRUE(run.ok) << run.err;
  EXPECT_TRUE(t.audio == dsdgen::generate_repeated(o, 1000));
  EXPECT_EQ(t.title, "DT");
  EXPECT_EQ(t.artist, "DA");
  EXPECT_EQ(t.genre, "Jazz");
}

TEST(DsdgenTool, FfprobeReadsTheFiles) {
  if (!testsupport::have_program("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
  ScratchDir dir;
  dsdgen::DsfOptions o;
  o.tags.title = "Peer title";
  o.tags.artist = "Peer artist";
  o.tags.album = "Peer album";
  o.tags.track = "2";
  for (int version : {3, 4}) {
    o.tags.version = version;
    o.tags.utf16 = version == 4;
    ASSERT_TRUE(dsdgen::write_dsf(dir.file("p.dsf"), 6, 2822400, signal(6, 2822400, 8 * 4704), o));
    const std::string out = probe(dir.file("p.dsf"));
    EXPECT_NE(out.find("codec_name=dsd_lsbf_planar"), std::string::npos) << out;
    EXPECT_NE(out.find("channels=6"), std::string::npos) << out;
    EXPECT_NE(out.find("sample_rate=352800"), std::string::npos) << out;
    EXPECT_NE(out.find("TAG:title=Peer title"), std::string::npos) << out;
    EXPECT_NE(out.find("TAG:artist=Peer artist"), std::string::npos) << out;
    EXPECT_NE(out.find("TAG:album=Peer album"), std::string::npos) << out;
  }
  dsdgen::DsfOptions m;
  m.lsb_first = false;
  ASSERT_TRUE(dsdgen::write_dsf(dir.file("m.dsf"), 2, 5644800, signal(2, 5644800, 8 * 9408), m));
  std::string out = probe(dir.file("m.dsf"));
  EXPECT_NE(out.find("codec_name=dsd_msbf_planar"), std::string::npos) << out;
  EXPECT_NE(out.find("sample_rate=705600"), std::string::npos) << out;

  ASSERT_TRUE(dsdgen::write_dsdiff(dir.file("p.dff"), 5, 2822400, signal(5, 2822400, 8 * 4704), {}));
  out = probe(dir.file("p.dff"));
  EXPECT_NE(out.find("codec_name=dsd_msbf"), std::string::npos) << out;
  EXPECT_NE(out.find("channels=5"), std::string::npos) << out;
  dsdgen::DffOptions d;
  d.dst_frames = {{0x80, 1, 2}, {0x80, 3}};
  ASSERT_TRUE(dsdgen::write_dsdiff(dir.file("d.dff"), 2, 2822400, {}, d));
  out = probe(dir.file("d.dff"));
  EXPECT_NE(out.find("codec_name=dst"), std::string::npos) << out;
}
