// The command line: usage and --api texts, option forms, clamps, refusals,
// output names, and the manual page and completion made from the same table.
#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "dst/dst_encoder.h"
#include "frontend/cli.h"
#include "frontend/driver.h"
#include "frontend/host.h"
#include "frontend/options.h"
#include "frontend/usage.h"
#include "manifest/sha256.h"
#include "support/entry_point.h"
#include "support/test_support.h"

using namespace varn;
using testsupport::contains;
using testsupport::run_varntessel;

namespace {

// Parses in-process: the exit code when parsing ends the run, -1000 when it
// fills the job.
int parse(std::vector<std::string> args, PackJob& job) {
  args.insert(args.begin(), "varntessel");
  const auto r = parse_command_line(args, job);
  return r ? *r : -1000;
}

}  // namespace

// Both texts must stay byte for byte as documented; their digests are
// pinned, to be updated only with a deliberate change of the interface.
TEST(Usage, TextsAndStreams) {
  const std::string u = usage_text("vt"), api = api_schema_json("vt");
  EXPECT_EQ(sha256_hex_of(u.data(), u.size()), "5ddb43fb3e74c122cdc3fdbaf580e0885fb889427af98c4661ce184300915ccf");
  EXPECT_EQ(sha256_hex_of(api.data(), api.size()), "2306298e619f3472fddd53935fb02673d63b55ad299d7e312acef4571ddef829");
  const auto help = run_varntessel({"--album", "X", "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.out, usage_text(VARN_TEST_VARNTESSEL));
  EXPECT_TRUE(help.err.empty());
  const auto none = run_varntessel({});
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_EQ(none.err, usage_text(VARN_TEST_VARNTESSEL));
  EXPECT_TRUE(none.out.empty());
  const auto v = run_varntessel({"--version", "--help"});
  EXPECT_EQ(v.out, std::string("varntessel ") + program_version() + "\n");
  // The schema is one line of valid JSON whatever comes after --api.
  if (testsupport::have_program("python3")) {
    const auto j = testsupport::run_shell(std::string("'") + VARN_TEST_VARNTESSEL +
                                          "' --api --help | python3 -c 'import json,sys; d=json.loads(sys.stdin.read());"
                                          " print(d[\"optionCount\"], len(d[\"options\"]))'");
    EXPECT_EQ(j.out, "35 35\n") << j.err;
  }
}

TEST(Docs, ManPageAndCompletionListEveryUsageOption) {
  const std::string man = testsupport::read_text(VARN_TEST_MAN_PAGE);
  const std::string completion = testsupport::read_text(VARN_TEST_COMPLETION);
  std::istringstream in(usage_text("vt"));
  std::string line;
  int names = 0;
  while (std::getline(in, line)) {
    const size_t p = line.find_first_not_of(' ');
    if (p == std::string::npos || line[p] != '-') continue;
    const std::string name = line.substr(p, line.find(' ', p) - p);
    std::string roff;
    for (char c : name) roff += c == '-' ? std::string("\\-") : std::string(1, c);
    EXPECT_TRUE(contains(man, "\\fB" + roff + "\\fR")) << name;
    EXPECT_TRUE(contains(completion, " " + name + " ")) << name;
    ++names;
  }
  EXPECT_EQ(names, 35);
  const auto r = testsupport::run_program(
      "bash", {"-c", std::string("source ") + VARN_TEST_COMPLETION +
                         "; try() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _varntessel;"
                         " echo \"${COMPREPLY[*]}\"; }; try varntessel --dst-t; try varntessel --ver"});
  EXPECT_EQ(r.out, "--dst-threads\n--verify --version\n");
}

TEST(Parse, OptionFormsAndClamps) {
  PackJob job;
  ASSERT_EQ(parse({"--album=-live-", "--artist", "A B", "--title=", "--disc", "-2", "-i", "-odd.dsf", "",
                   "--verify", "-x.iso", "-o", "-out.iso", "--dsd-disc", "--no-playlist", "--no-encode",
                   "--dst-stereo", "--dst-threads", "100", "--dst-compression=0", "--pause", "75",
                   "--track-title", "Intro", "--track-title", "3:Finale", "--track-title", "Second",
                   "--track-artist=2:Solo", "--isrc", "us-abc-24-00001", "--isrc", "2:XYZ", "x.dsf"},
                  job),
            -1000);
  // '-' and a digit: a value, not an option
  EXPECT_EQ(job.album.title + "|" + job.album.artist + "|" + job.disc_title + "|" + job.album.disc_number,
            "-live-|A B||-2");
  EXPECT_EQ(job.inputs, (std::vector<std::string>{"-odd.dsf", "", "x.dsf"}));
  EXPECT_EQ(job.verify_path + "|" + job.output_path, "-x.iso|-out.iso");
  EXPECT_TRUE(job.dsd_disc && !job.playlists && job.no_encode && job.dst_stereo);
  EXPECT_EQ(std::tuple(job.dst_threads, job.dst_order, job.pause_frames), std::tuple(64u, 1u, 75));
  EXPECT_EQ(job.track_titles, (std::map<int32_t, std::string>{{0, "Intro"}, {2, "Finale"}, {1, "Second"}}));
  EXPECT_EQ(job.album.track_artists, (std::map<int32_t, std::string>{{1, "Solo"}}));
  EXPECT_EQ(job.album.isrcs, (std::map<int32_t, std::string>{{0, "USABC2400001"}}));  // 'XYZ' is ignored
  PackJob b;
  EXPECT_EQ(parse({"--dst-threads=-3", "--dst-compression=500"}, b), -1000);
  EXPECT_EQ(std::tuple(b.dst_threads, b.dst_order), std::tuple(0u, 128u));

  testsupport::ScratchDir dir;
  for (const auto& [out, inspect] : {std::pair{dir.path + "/new/", true}, {dir.path, true}, {dir.path + "/x", false}}) {
    PackJob j;
    parse({"-o", out}, j);
    EXPECT_EQ(j.inspect_dir, inspect) << out;
  }
  EXPECT_EQ(sacd_image_name("disc.ISO"), "disc.ISO");
  EXPECT_EQ(sacd_image_name("disc.img"), "disc.img.iso");
  EXPECT_EQ(dsd_disc_image_name(""), "dsd_disc.iso");
  EXPECT_EQ(input_kind("a.DSF"), InputKind::Dsf);
  EXPECT_EQ(input_kind("b.dsd"), InputKind::Dsdiff);
  EXPECT_EQ(input_kind(".dsf"), InputKind::Unknown);
}

// Refused command lines end with 1; the message names the option or value.
// (Refusals that need input files are in the robustness suite.)
TEST(Parse, RefusedCommandLinesEndWithOne) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--album", "-live-"}, "write --album=-live-"},
      {{"a.dsf", "-o"}, "-o needs a value"},
      {{"-o=x"}, "Unknown option: -o=x"},
      {{"--dsd-disc=1"}, "Unknown option: --dsd-disc=1"},
      {{"--dst-threads", "many"}, "'many' for --dst-threads"},
      {{"--dst-compression=99999999999"}, "'99999999999' for --dst-compression"},
      {{"--dst-compression", " 64"}, "' 64' for --dst-compression"},
      {{"--pause="}, "'' for --pause"},
      {{"--pause=-5", "a.dsf"}, "--pause must not be negative"},
      {{"--track-title", "Act I: Overture"}, "'Act I' for --track-title"},
      {{"--isrc", "0:USABC2400001"}, "--isrc: track number 0"},
      {{""}, "1 of 1 input files cannot be used"},
  };
  for (auto [args, message] : cases) {
    args.insert(args.begin(), "vt");
    const testsupport::RunResult r = testsupport::run_entry(args);
    EXPECT_EQ(r.exit_code, 1) << args[1];
    EXPECT_TRUE(contains(r.err, message)) << args[1] << ": " << r.err;
  }
  EXPECT_EQ(run_entry_point(0, nullptr), 1);
  // A schema that never reached its reader is no success.
  const auto full = testsupport::run_shell(std::string("'") + VARN_TEST_VARNTESSEL + "' --api >/dev/full");
  EXPECT_EQ(full.exit_code, 1);
  EXPECT_EQ(full.err, "Error: cannot write to standard output: No space left on device\n");
  // --no-simd holds for its own run: a host's next run codes with the
  // vector instructions again.
  EXPECT_EQ(testsupport::run_entry({"vt", "--no-simd", ""}).exit_code, 1);
  EXPECT_FALSE(simd_enabled());
  EXPECT_EQ(testsupport::run_entry({"vt", ""}).exit_code, 1);
  EXPECT_TRUE(simd_enabled());
  // A function address is taken only from a host that loads the library.
  const auto r = run_varntessel({"-inproc-ctl", "1", "-inproc-ctl-fn", "4096", "a.dsf"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(contains(r.err, "accepted only from an in-process host")) << r.err;
}
