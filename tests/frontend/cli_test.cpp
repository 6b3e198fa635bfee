// Command line: usage text, pre-scan, option forms, clamps, output names.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "frontend/cli.h"
#include "frontend/driver.h"
#include "frontend/options.h"
#include "frontend/usage.h"
#include "support/test_support.h"

using namespace varn;
using testsupport::run_varntessel;

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    out.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

// Parses in-process and returns the exit code when parsing ends the run,
// -1000 when it fills the job.
int parse(std::vector<std::string> args, PackJob& job) {
  args.insert(args.begin(), "varntessel");
  auto r = parse_command_line(args, job);
  return r ? *r : -1000;
}

}  // namespace

TEST(Usage, IsTheDocumentedTextWithNameAndDefaults) {
  std::string u = usage_text("vt");
  auto lines = lines_of(u);
  ASSERT_EQ(lines.size(), 66u);
  EXPECT_EQ(u.back(), '\n');
  EXPECT_EQ(lines[0], "Usage: vt [-o OUTPUT] [-i] INPUT.dsf [...] [options]");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[34], "  --pause N         Pause frames between tracks (default 150)");
  EXPECT_EQ(lines[40], "                    (multi-channel is always DST unless --no-encode)");
  EXPECT_EQ(lines[41],
            "  --dst-fast          Fast packing: DST at medium precision (about +11% size, about 2.6x "
            "speed; recommended on slow machines)");
  EXPECT_EQ(lines[52], "  vt album.dsf                                Single-track ISO");
  EXPECT_EQ(lines[65], "  vt -o disc.iso --dsd-disc --no-playlist *.dsf           No .ddp file");
  EXPECT_EQ(u.find("--no-simd"), std::string::npos);
  EXPECT_EQ(u.find("inproc"), std::string::npos);
}

TEST(Usage, HelpAndNoArgumentsThroughTheConsoleProgram) {
  auto help = run_varntessel({"--album", "X", "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.out, usage_text(VARN_TEST_VARNTESSEL));
  EXPECT_TRUE(help.err.empty());

  auto none = run_varntessel({});
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_EQ(none.err, usage_text(VARN_TEST_VARNTESSEL));
  EXPECT_TRUE(none.out.empty());

  auto api_first = run_varntessel({"--api", "--help"});
  EXPECT_EQ(api_first.exit_code, 0);
  EXPECT_EQ(api_first.out.rfind("{\"tool\":", 0), 0u);
  auto help_first = run_varntessel({"-h", "--api"});
  EXPECT_EQ(help_first.out, usage_text(VARN_TEST_VARNTESSEL));
}

TEST(Usage, VersionIsOneLineAndEndsTheRun) {
  auto v = run_varntessel({"--album", "X", "--version", "--help"});
  EXPECT_EQ(v.exit_code, 0);
  EXPECT_EQ(v.out, std::string("varntessel ") + program_version() + "\n");
  EXPECT_TRUE(v.err.empty());
  EXPECT_EQ(usage_text("vt").find("--version"), std::string::npos);
}

TEST(Parse, ValueOptionForms) {
  PackJob job;
  EXPECT_EQ(parse({"--album=-live-", "--artist", "A B", "--title=", "--disc", "-2", "x.dsf"}, job), -1000);
  EXPECT_EQ(job.album.title, "-live-");
  EXPECT_EQ(job.album.artist, "A B");
  EXPECT_EQ(job.disc_title, "");
  EXPECT_EQ(job.album.disc_number, "-2");  // '-' and a digit: a value, not an option
  EXPECT_EQ(job.inputs, std::vector<std::string>{"x.dsf"});
}

TEST(Parse, InputsFlagsAndSeparateForms) {
  PackJob job;
  EXPECT_EQ(parse({"-i", "-odd.dsf", "", "--verify", "-x.iso", "-o", "-out.iso", "--dsd-disc",
                   "--no-playlist", "--no-encode", "--allow-meta-errors", "--dst-stereo",
                   "--no-manifest", "--dst-fast", "-inproc-host", "-inproc-ctl", "5", "-i"},
                  job),
            -1000);
  EXPECT_EQ(job.inputs, (std::vector<std::string>{"-odd.dsf", ""}));
  EXPECT_EQ(job.verify_path, "-x.iso");
  EXPECT_EQ(job.output_path, "-out.iso");
  EXPECT_TRUE(job.dsd_disc && !job.playlists && job.no_encode && job.allow_meta_errors &&
              job.dst_stereo && job.no_manifest && job.dst_fast);
}

TEST(Parse, NumberedTextFormsAndCounters) {
  PackJob job;
  EXPECT_EQ(parse({"--track-title", "Intro", "--track-title", "3:Finale", "--track-title", "Second",
                   "--track-title", "2:", "--track-artist=2:Solo",
                   "--track-album", "Live", "--track-album=1:Rock"},
                  job),
            -1000);
  std::map<int32_t, std::string> titles{{0, "Intro"}, {2, "Finale"}, {1, "Second"}};
  EXPECT_EQ(job.track_titles, titles);
  EXPECT_EQ(job.album.track_artists, (std::map<int32_t, std::string>{{1, "Solo"}}));
  EXPECT_EQ(job.track_albums, (std::map<int32_t, std::string>{{0, "Rock"}}));
}

TEST(Parse, IsrcNormalisedCheckedAndCounted) {
  PackJob job;
  testing::internal::CaptureStderr();
  EXPECT_EQ(parse({"--isrc", "us-abc-24-00001", "--isrc", "2:XYZ", "--isrc", "bad", "--isrc",
                   "GB-X1Y-99-12345"},
                  job),
            -1000);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(job.album.isrcs,
            (std::map<int32_t, std::string>{{0, "USABC2400001"}, {2, "GBX1Y9912345"}}));
  EXPECT_NE(err.find("  [ISRC] track 2: 'XYZ' is not a valid ISRC (expected CC-OOO-YY-DDDDD, 12 chars), "
                     "ignored\n"),
            std::string::npos);
  EXPECT_NE(err.find("  [ISRC] entry 2: 'BAD' is not a valid ISRC"), std::string::npos);
}

TEST(Parse, NumericClamps) {
  PackJob a, b, c;
  EXPECT_EQ(parse({"--dst-threads", "100", "--dst-compression", "0"}, a), -1000);
  EXPECT_EQ(a.dst_threads, 64u);
  EXPECT_EQ(a.dst_order, 1u);
  EXPECT_TRUE(a.dst_order_given);
  EXPECT_EQ(parse({"--dst-threads=-3", "--dst-compression=500", "--pause", "75"}, b), -1000);
  EXPECT_EQ(b.dst_threads, 0u);
  EXPECT_EQ(b.dst_order, 128u);
  EXPECT_EQ(b.pause_frames, 75);
  EXPECT_EQ(parse({"--dst-compression", "+64"}, c), -1000);
  EXPECT_EQ(c.dst_order, 64u);
  EXPECT_FALSE(a.dst_fast);
}

TEST(Parse, RefusedCommandLinesEndWithOne) {
  const std::string needs = "Error: --album needs a value";
  const std::string range = " is out of range (tracks are numbered from 1)\n";
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--album", "-live-"}, needs + " (for one that begins with '-', write --album=-live-)\n"},
      {{"a.dsf", "--album"}, needs + "\n"},
      {{"a.dsf", "-o"}, "Error: -o needs a value\n"},
      {{"-o=x"}, "Unknown option: -o=x\n"},
      {{"--dsd-disc=1"}, "Unknown option: --dsd-disc=1\n"},
      {{"--dst-threads", "many"}, "Error: invalid number 'many' for --dst-threads\n"},
      {{"--dst-compression=99999999999"}, "Error: invalid number '99999999999' for --dst-compression\n"},
      {{"--dst-compression", " 64"}, "Error: invalid number ' 64' for --dst-compression\n"},
      {{"--pause", "x1"}, "Error: invalid number 'x1' for --pause\n"},
      {{"--pause=75x"}, "Error: invalid number '75x' for --pause\n"},
      {{"--pause=1e9"}, "Error: invalid number '1e9' for --pause\n"},
      {{"--pause="}, "Error: invalid number '' for --pause\n"},
      {{"--track-title", "Act I: Overture"}, "Error: invalid number 'Act I' for --track-title\n"},
      {{"--isrc=a:USABC2400001"}, "Error: invalid number 'a' for --isrc\n"},
      {{"--track-title=0:X"}, "Error: --track-title: track number 0" + range},
      {{"--track-title", "-1:X"}, "Error: --track-title: track number -1" + range},
      {{"--track-album=0:Rock"}, "Error: --track-album: track number 0" + range},
      {{"--isrc", "0:USABC2400001"}, "Error: --isrc: track number 0" + range},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"vt"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    testing::internal::CaptureStderr();
    const int rc = run_entry_point(int(argv.size()), argv.data());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, 1) << c.args[0];
    EXPECT_EQ(err, c.message);
  }
  auto neg = run_varntessel({"--pause=-5", "a.dsf"});
  EXPECT_EQ(neg.exit_code, 1);
  EXPECT_NE(neg.err.find("--pause must not be negative"), std::string::npos);
}

TEST(Parse, InspectModeAndOutputNames) {
  testsupport::ScratchDir dir;
  PackJob a, b, c;
  parse({"-o", dir.path + "/new/"}, a);
  EXPECT_TRUE(a.inspect_dir);
  parse({"-o", dir.path}, b);
  EXPECT_TRUE(b.inspect_dir);
  parse({"-o", dir.path + "/missing"}, c);
  EXPECT_FALSE(c.inspect_dir);

  EXPECT_EQ(sacd_image_name("disc.ISO"), "disc.ISO");
  EXPECT_EQ(sacd_image_name("disc"), "disc.iso");
  EXPECT_EQ(sacd_image_name("disc.img"), "disc.img.iso");
  EXPECT_EQ(sacd_image_name(""), ".iso");
  EXPECT_EQ(dsd_disc_image_name(""), "dsd_disc.iso");
  EXPECT_EQ(dsd_disc_image_name("x"), "x");
  EXPECT_EQ(input_kind("a.DSF"), InputKind::Dsf);
  EXPECT_EQ(input_kind("a.Dff"), InputKind::Dsdiff);
  EXPECT_EQ(input_kind("b.dsd"), InputKind::Dsdiff);
  EXPECT_EQ(input_kind(".dsf"), InputKind::Unknown);
  EXPECT_EQ(input_kind("x.wav"), InputKind::Unknown);
}

TEST(EntryPoint, NullArgumentsCountAsEmpty) {
  char prog[] = "vt";
  char* argv[] = {prog, nullptr, nullptr};
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  int rc = run_entry_point(2, argv);
  testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  // The empty argument is an input with no known extension.
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(err, "Unknown extension: \nError: 1 of 1 input files cannot be used; nothing was written\n");
  EXPECT_EQ(run_entry_point(0, nullptr), 1);
}
