// The files of our generator as an independent reader (ffprobe) sees them:
// the test inputs of every suite follow the DSF and DSDIFF layouts.
#include <gtest/gtest.h>

#include "audio_test_util.h"

using namespace audiotest;

TEST(DsdgenTool, FfprobeReadsTheFiles) {
  if (!testsupport::have_program("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
  ScratchDir dir;
  auto probe = [&](const std::string& path, const std::vector<std::string>& want) {
    testsupport::RunResult r = testsupport::run_program(
        "ffprobe", {"-v", "error", "-show_entries", "stream=codec_name,channels,sample_rate:format_tags", "-of",
                    "default=nw=1", path});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    for (const std::string& w : want) EXPECT_TRUE(testsupport::contains(r.out, w + "\n")) << path << ": " << w << "\n" << r.out;
  };
  dsdgen::DsfOptions o;
  o.tags.title = "Peer title";
  o.tags.artist = "Peer artist";
  o.tags.album = "Peer album";
  for (int version : {3, 4}) {
    o.tags.version = version;
    o.tags.utf16 = version == 4;
    ASSERT_TRUE(dsdgen::write_dsf(dir.file("p.dsf"), 6, 2822400, signal(6, 2822400, 8 * 4704), o));
    probe(dir.file("p.dsf"), {"codec_name=dsd_lsbf_planar", "channels=6", "sample_rate=352800",
                              "TAG:title=Peer title", "TAG:artist=Peer artist", "TAG:album=Peer album"});
  }
  dsdgen::DsfOptions m;
  m.lsb_first = false;
  ASSERT_TRUE(dsdgen::write_dsf(dir.file("m.dsf"), 2, 5644800, signal(2, 5644800, 8 * 9408), m));
  probe(dir.file("m.dsf"), {"codec_name=dsd_msbf_planar", "sample_rate=705600"});
  ASSERT_TRUE(dsdgen::write_dsdiff(dir.file("p.dff"), 5, 2822400, signal(5, 2822400, 8 * 4704), {}));
  probe(dir.file("p.dff"), {"codec_name=dsd_msbf", "channels=5"});
  dsdgen::DffOptions d;
  d.dst_frames = {{0x80, 1, 2}, {0x80, 3}};
  ASSERT_TRUE(dsdgen::write_dsdiff(dir.file("d.dff"), 2, 2822400, {}, d));
  probe(dir.file("d.dff"), {"codec_name=dst"});
  // The command line: a bad option is refused with 2.
  EXPECT_EQ(testsupport::run_program(VARN_TEST_DSDGEN, {"--signal", "whistle", dir.file("x.dsf")}).exit_code, 2);
}
