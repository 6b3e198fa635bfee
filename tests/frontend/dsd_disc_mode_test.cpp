// The DSD Disc run of the packing driver.
#include <gtest/gtest.h>

#include <unistd.h>

#include "dsddisc/dsd_disc_test_util.h"
#include "frontend/stages.h"

using testsupport::ScratchDir;
using testsupport::file_exists;

namespace {

int run_stage(varn::PackRun& run, std::string* out = nullptr) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  varn::StageResult r = varn::stage_dsd_disc(run);
  testing::internal::GetCapturedStderr();
  std::string o = testing::internal::GetCapturedStdout();
  if (out) *out = o;
  return r ? *r : -1000;
}

}  // namespace

TEST(DsdDiscStage, NotADsdDiscRun) {
  varn::PackRun run;
  run.job.inputs = {"a.dsf"};
  EXPECT_FALSE(varn::stage_dsd_disc(run).has_value());
}

TEST(DsdDiscStage, TrackAlbumsAndOutputName) {
  ScratchDir dir;
  varn::PackRun run;
  run.job.dsd_disc = true;
  run.job.output_path = dir.file("disc.iso");
  run.job.disc_title = "Live set";
  for (const char* n : {"a.dsf", "b.dsf", "c.dsf"}) {
    dsdtest::make_dsf(dir.file(n), 40000);
    run.job.inputs.push_back(dir.file(n));
  }
  run.job.track_albums[1] = "Live";  // --track-album=2:Live
  std::string out;
  EXPECT_EQ(run_stage(run, &out), 0);
  EXPECT_TRUE(file_exists(dir.file("disc.iso")));
  EXPECT_NE(out.find("          /DSD_DISC/ALBUM/ — 2 track(s)\n"
                     "          /DSD_DISC/Live/ — 1 track(s)\n"
                     "  Title:  Live set\n"
                     "  Playlist: auto-generated (2 .ddp)\n"),
            std::string::npos)
      << out;

  run.job.playlists = false;
  EXPECT_EQ(run_stage(run, &out), 0);
  EXPECT_EQ(out.find("Playlist:"), std::string::npos);
}

TEST(DsdDiscStage, DefaultImageNameAndFailure) {
  ScratchDir dir;
  varn::PackRun run;
  run.job.dsd_disc = true;
  dsdtest::make_dsf(dir.file("a.dsf"), 40000);
  run.job.inputs = {dir.file("a.dsf")};
  char* old = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(dir.path.c_str()), 0);
  int code = run_stage(run);
  bool made = file_exists("dsd_disc.iso");
  run.job.inputs.push_back(dir.file("missing.dsf"));
  std::remove("dsd_disc.iso");
  int failed = run_stage(run);
  bool left = file_exists("dsd_disc.iso");
  EXPECT_EQ(chdir(old), 0);
  free(old);
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(made);
  EXPECT_EQ(failed, 1);
  EXPECT_FALSE(left);

  run.job.inputs.clear();
  EXPECT_EQ(run_stage(run), 1);
}

TEST(DsdDiscStage, ConsoleProgram) {
  ScratchDir dir;
  std::vector<std::string> args = {"-o", dir.file("disc.iso"), "--dsd-disc", "--track-album=2:Live",
                                   "--title=Live"};
  std::vector<std::vector<uint8_t>> data;
  for (const char* n : {"a.dsf", "b.dsf", "c.dsf"}) {
    data.push_back(dsdtest::make_dsf(dir.file(n), 30000 + 8000 * data.size(), data.size() + 1));
    args.push_back(dir.file(n));
  }
  testsupport::RunResult r = testsupport::run_varntessel(args);
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("\n✓ Varn DSD Disc created: " + dir.file("disc.iso") + "\n"), std::string::npos);
  if (testsupport::have_program("7z")) {
    std::string x = dir.file("x");
    r = testsupport::run_program("7z", {"x", "-tudf", "-y", "-o" + x, dir.file("disc.iso")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(testsupport::read_file(x + "/DSD_DISC/ALBUM/a.dsf"), data[0]);
    EXPECT_EQ(testsupport::read_file(x + "/DSD_DISC/Live/b.dsf"), data[1]);
    EXPECT_EQ(testsupport::read_file(x + "/DSD_DISC/ALBUM/c.dsf"), data[2]);
    EXPECT_TRUE(file_exists(x + "/DSD_DISC/Live.ddp"));
  }

  // A refused job exits with 1 and leaves no image.
  std::remove(dir.file("disc.iso").c_str());
  args[3] = "--track-album=2:..";
  r = testsupport::run_varntessel(args);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("Error: reserved album name: '..'\n"), std::string::npos) << r.err;
  EXPECT_FALSE(file_exists(dir.file("disc.iso")));
}
