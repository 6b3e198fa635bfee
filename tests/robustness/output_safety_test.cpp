// Output safety: the console program never reports success for an output it
// did not finish, never leaves a partial file under a final name, never
// touches its inputs or any file it was not asked to write, and replaces
// the earlier outputs together or not at all: on a full disk (a file-size
// limit, a small tmpfs), on SIGINT, SIGTERM and SIGKILL, with two runs
// writing one output at once, and with outputs that are inputs.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <termios.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/capture.h"
#include "support/test_support.h"

using testsupport::changes;
using testsupport::contains;
using testsupport::read_text;
using testsupport::RunResult;
using testsupport::ScratchDir;
using testsupport::Snapshot;
using testsupport::snapshot;

namespace {

namespace fs = std::filesystem;

// Names of temporary files the program left behind.
std::vector<std::string> leftovers(const std::string& dir) {
  std::vector<std::string> found;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0) found.push_back(name);
    if (name.rfind("VarnPack_cover_", 0) == 0) found.push_back(name);
  }
  return found;
}

// The console program in the background or run to its end, with an
// optional file-size limit and extra environment entries.
testsupport::Child start(const std::vector<std::string>& args, uint64_t file_size_limit = 0,
                         const std::vector<std::string>& env = {}, int err_to = -1) {
  return testsupport::start_program(VARN_TEST_VARNTESSEL, args, env, file_size_limit, err_to);
}
RunResult run(const std::vector<std::string>& args, uint64_t file_size_limit = 0,
              const std::vector<std::string>& env = {}) {
  return finish(start(args, file_size_limit, env));
}

// A folder `work` with two short stereo DSF files and the outputs of an
// earlier run.
struct Album {
  ScratchDir dir;
  std::string work;
  Album() {
    work = dir.file("work");
    fs::create_directory(work);
    EXPECT_TRUE(testsupport::dsdgen({"--seconds", "1", "--title", "One", in("a.dsf")}));
    EXPECT_TRUE(testsupport::dsdgen({"--seconds", "1", "--signal", "tone", "--title", "Two", in("b.dsf")}));
  }
  std::string in(const std::string& name) const { return work + "/" + name; }
  std::vector<std::string> pack(const std::string& album, std::vector<std::string> more = {}) const {
    std::vector<std::string> args = {"--album", album, "-o", in("disc.iso")};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back(in("a.dsf"));
    args.push_back(in("b.dsf"));
    return args;
  }
  // The earlier outputs every case starts from.
  void earlier_run() const {
    const RunResult o = run(pack("Earlier"));
    ASSERT_EQ(o.exit_code, 0) << o.err;
  }
};

// The console program with standard error on a pseudo terminal (output
// processing off, so that its bytes arrive as written).
RunResult run_on_terminal(const std::vector<std::string>& args) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  EXPECT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios mode{};
  tcgetattr(slave, &mode);
  mode.c_oflag &= ~tcflag_t(OPOST);
  tcsetattr(slave, TCSANOW, &mode);
  const testsupport::Child c = start(args, 0, {}, slave);
  close(slave);
  std::string err;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(master, buf, sizeof buf);
    if (n > 0) err.append(buf, size_t(n));
    else if (n < 0 && errno == EINTR) continue;
    else break;  // EIO once the program has closed the terminal
  }
  close(master);
  RunResult o = finish(c);
  o.err = err;
  return o;
}

// Terminal text split into its progress lines, each drawn as
// "\r...\033[K" and wiped as "\r\033[K", and the rest. A line is left
// standing when anything but a redraw or a wipe follows it.
struct TerminalText {
  std::string rest;
  bool line_left_standing = false;
};

TerminalText split_progress(const std::string& text) {
  TerminalText t;
  bool drawn = false;
  for (size_t i = 0; i < text.size();) {
    const size_t end = text[i] == '\r' ? text.find("\x1b[K", i) : std::string::npos;
    if (end != std::string::npos && text.find_first_of("\r\n", i + 1) >= end) {
      drawn = end > i + 1;
      i = end + 3;
      continue;
    }
    t.line_left_standing = t.line_left_standing || drawn;
    drawn = false;
    t.rest += text[i++];
  }
  t.line_left_standing = t.line_left_standing || drawn;
  return t;
}


}  // namespace

// An output named like an input, directly, through a symbolic link or a
// hard link, is refused before anything is written; so is an output that
// is a pipe (or a device) rather than a file, and a pause no disc holds.
TEST(OutputSafety, AnOutputIsNeverAnInput) {
  Album a;
  a.earlier_run();
  fs::copy_file(a.in("disc.cue"), a.in("sheet.cue"));
  fs::copy_file(a.in("disc.cue"), a.in("toc.txt"));
  fs::create_symlink(a.in("a.dsf"), a.in("link.iso"));
  fs::create_hard_link(a.in("b.dsf"), a.in("hard.iso"));
  ASSERT_EQ(mkfifo(a.in("pipe.iso").c_str(), 0644), 0);
  const std::string over = "would overwrite the input file ";
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {"CUE export over --cue", {"--cue", a.in("disc.cue"), "-o", a.in("disc.iso"), a.in("a.dsf"), a.in("b.dsf")},
       "Error: the CUE sheet " + a.in("disc.cue") + " " + over + a.in("disc.cue")},
      {"CUE export over --cue, other name", {"--cue", a.in("sheet.cue"), "-o", a.in("sheet.iso"), a.in("a.dsf")},
       "Error: the CUE sheet " + a.in("sheet.cue") + " " + over},
      {"inspection file over --cue", {"--cue", a.in("toc.txt"), "-o", a.work + "/", a.in("a.dsf"), a.in("b.dsf")},
       "Error: the inspection file " + a.work + "/toc.txt " + over + a.in("toc.txt")},
      {"image is a symbolic link to an input", {"-o", a.in("link.iso"), a.in("a.dsf")},
       "Error: the image " + a.in("link.iso") + " " + over + a.in("a.dsf")},
      {"image is a hard link to an input", {"-o", a.in("hard.iso"), a.in("a.dsf"), a.in("b.dsf")},
       "Error: the image " + a.in("hard.iso") + " " + over + a.in("b.dsf")},
      {"DSD Disc image is an input", {"--dsd-disc", "-o", a.in("link.iso"), a.in("a.dsf")}, "Error: the image "},
      {"image is a pipe", {"-o", a.in("pipe.iso"), a.in("a.dsf")},
       "Error: cannot write " + a.in("pipe.iso") + ": it is not a regular file"},
      {"a pause no disc could hold", a.pack("Long", {"--pause", "2000000000"}),
       "more than the largest disc it could be burnt to holds (BD-R XL, 128001769472 bytes)"},
      {"a pause no disc could hold, inspected", {"--pause", "2000000000", "-o", a.in("dump/"), a.in("a.dsf"), a.in("b.dsf")},
       "Error: with a pause of 2000000000 frames between tracks the image would take 19114669352960 bytes"},
  };
  for (const auto& k : cases) {
    const Snapshot before = snapshot(a.work);
    const RunResult o = run(k.args);
    EXPECT_EQ(o.exit_code, 1) << k.name << "\n" << o.err;
    EXPECT_TRUE(contains(o.err, k.message)) << k.name << "\n" << o.err;
    EXPECT_EQ(changes(before, snapshot(a.work)), "") << k.name;
  }
  // A file of the inspection dump that cannot be written fails the run; the
  // others are still written.
  const std::string dump = a.dir.file("dump");
  fs::create_directories(dump + "/tracks.txt");
  const RunResult o = run({"-o", dump + "/", a.in("a.dsf")});
  EXPECT_EQ(o.exit_code, 1);
  EXPECT_TRUE(contains(o.err, "\n  Error: cannot write " + dump + "/tracks.txt\n")) << o.err;
  EXPECT_TRUE(contains(o.out, "  ok " + dump + "/toc.txt\n  ok " + dump + "/master_toc.bin (168 bytes)\n")) << o.out;
  EXPECT_TRUE(contains(o.out, "  ok " + dump + "/toc_detail.txt\n")) << o.out;
}

// The first track's picture is embedded through a private temporary file:
// a user's file named like "<image>_cover.png" stays, nothing lands in the
// parent folder, and no extract is left behind, after success or failure.
TEST(OutputSafety, PictureExtractIsPrivateAndTemporary) {
  Album a;
  const std::string temp = a.dir.file("temp");
  fs::create_directory(temp);
  fs::create_directory(a.in("set.d"));
  std::string png = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 1, 0x2c,
                     0, 0, 1, 0x2c};
  png.resize(600, '\x55');
  testsupport::write_text(a.dir.file("cover.png"), png);
  testsupport::dsdgen({"--seconds", "1", "--cover", a.dir.file("cover.png"), a.in("p.dsf")});
  testsupport::write_text(a.in("disc_cover.png"), "the user's own file");
  testsupport::write_text(a.in("set_cover.png"), "another file of the user's");
  const std::vector<std::string> env = {"TEMP=" + temp};

  const Snapshot before = snapshot(a.work);
  RunResult o = run({"-o", a.in("disc.iso"), a.in("p.dsf")}, 0, env);
  ASSERT_EQ(o.exit_code, 0) << o.err;
  EXPECT_TRUE(contains(o.out, "[Cover] auto-extracted to " + temp + "/VarnPack_cover_")) << o.out;
  EXPECT_TRUE(contains(o.out, "-> ISO:/COVER.PNG")) << o.out;
  o = run({"-o", a.in("set.d/disc"), a.in("p.dsf")}, 0, env);
  ASSERT_EQ(o.exit_code, 0) << o.err;
  // A run that fails after the extract (the image cannot be written whole).
  o = run({"-o", a.in("big.iso"), a.in("p.dsf")}, 100000, env);
  EXPECT_EQ(o.exit_code, 1) << o.err;

  Snapshot after = snapshot(a.work);
  for (const char* made : {"/disc.iso", "/disc.iso.delivery.txt", "/disc.cue", "/set.d/disc.iso",
                           "/set.d/disc.iso.delivery.txt", "/set.d/disc.cue"}) {
    EXPECT_EQ(after.erase(made), 1u) << made;
  }
  EXPECT_EQ(changes(before, after), "");
  EXPECT_TRUE(fs::is_empty(temp));
}

// A file-size limit cuts every write of the image short at a different
// point (with and without the manifest): each run fails with a message and
// exit 1, the earlier image, manifest and CUE sheet stay byte for byte, and
// no temporary file stays.
// The same for the DSD Disc image.
TEST(OutputSafety, FullDiskNeverSucceeds) {
  Album a;
  a.earlier_run();
  const Snapshot before = snapshot(a.work);
  const uintmax_t image = fs::file_size(a.in("disc.iso"));
  // Without the manifest the image is written by the writer's second thread.
  const std::vector<std::vector<std::string>> option_sets = {{}, {"--no-manifest"}};
  for (rlim_t limit : {rlim_t(4096), rlim_t(40000), rlim_t(700000), rlim_t(image / 2), rlim_t(image - 2048)}) {
    for (const std::vector<std::string>& more : option_sets) {
      const RunResult o = run(a.pack("Later", more), limit);
      EXPECT_EQ(o.exit_code, 1) << "limit " << limit << "\n" << o.err;
      EXPECT_TRUE(contains(o.err, "Error: ")) << "limit " << limit << "\n" << o.err;
      EXPECT_FALSE(contains(o.err, ".part")) << "the file standing in for the image is named\n" << o.err;
      EXPECT_FALSE(contains(o.out, "SACD ISO created")) << "limit " << limit;
      EXPECT_EQ(changes(before, snapshot(a.work)), "") << "limit " << limit;
    }
  }
  const RunResult ok = run(a.pack("Later"), rlim_t(image + 65536));
  EXPECT_EQ(ok.exit_code, 0) << ok.err;

  const RunResult disc = run({"--dsd-disc", "-o", a.in("dsd.iso"), a.in("a.dsf"), a.in("b.dsf")});
  ASSERT_EQ(disc.exit_code, 0) << disc.err;
  const Snapshot with_disc = snapshot(a.work);
  for (rlim_t limit : {rlim_t(40000), rlim_t(fs::file_size(a.in("dsd.iso")) - 4096)}) {
    const RunResult o =
        run({"--dsd-disc", "--title", "Later", "-o", a.in("dsd.iso"), a.in("a.dsf"), a.in("b.dsf")}, limit);
    EXPECT_EQ(o.exit_code, 1) << "limit " << limit << "\n" << o.err;
    // The message names the image asked for, not the file that stands in for it.
    EXPECT_TRUE(contains(o.err, "Error: writing " + a.in("dsd.iso") + " failed: File too large\n")) << o.err;
    EXPECT_EQ(changes(with_disc, snapshot(a.work)), "") << "limit " << limit;
  }

  // Coded DST frames wait in a spool in the temporary folder: a spool that
  // cannot be written or made fails the run too, and none is left behind.
  const std::string temp = a.dir.file("temp"), missing = a.dir.file("missing");
  fs::create_directory(temp);
  const struct {
    rlim_t limit;
    std::string temp, message;
  } spools[] = {
      {40000, temp, "Error: writing the coded DST frames to the spool file in " + temp + " failed: "},
      {0, missing, "Error: cannot create the DST spool file in " + missing + ": No such file or directory"},
  };
  for (const auto& k : spools) {
    const RunResult o = run(a.pack("Later", {"--dst-stereo"}), k.limit, {"TEMP=" + k.temp});
    EXPECT_EQ(o.exit_code, 1) << o.err;
    EXPECT_TRUE(contains(o.err, k.message)) << o.err;
    EXPECT_EQ(changes(with_disc, snapshot(a.work)), "") << k.message;
  }
  const RunResult coded = run(a.pack("Later", {"--dst-stereo"}), 0, {"TEMP=" + temp});
  EXPECT_EQ(coded.exit_code, 0) << coded.err;
  EXPECT_TRUE(fs::is_empty(temp));
}

// On a file system too small for the image the run is refused before
// writing, with both figures. Needs the right to mount a tmpfs.
TEST(OutputSafety, TooLittleFreeSpaceIsRefusedFirst) {
  Album a;
  const std::string small = a.dir.file("small");
  fs::create_directory(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=2m") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
  const RunResult o = run({"-o", small + "/disc.iso", a.in("a.dsf"), a.in("b.dsf")});
  const bool empty = fs::is_empty(small);
  umount(small.c_str());
  EXPECT_EQ(o.exit_code, 1) << o.err;
  EXPECT_TRUE(contains(o.err, "Error: the image " + small + "/disc.iso needs ")) << o.err;
  EXPECT_TRUE(contains(o.err, " bytes, but its file system has only ")) << o.err;
  EXPECT_TRUE(empty);
}

// SIGINT, SIGTERM or SIGKILL while the image is being written: the earlier
// outputs stay as they were and nothing partial carries a final name; the
// first two also remove the temporary file. The run is stopped (SIGSTOP)
// once its image is well under way, so the signal lands mid-write.
TEST(OutputSafety, SignalsLeaveTheEarlierOutputs) {
  Album a;
  a.earlier_run();
  const Snapshot before = snapshot(a.work);
  for (int sig : {SIGINT, SIGTERM, SIGKILL}) {
    // Long pauses make an image of about 100 MB that takes a while.
    const testsupport::Child c = start(a.pack("Interrupted", {"--pause", "10000"}));
    bool caught = false;
    for (int i = 0; i < 20000 && !caught; ++i) {
      for (const std::string& name : leftovers(a.work)) {
        std::error_code ec;
        if (fs::file_size(a.in(name), ec) > (8u << 20)) caught = kill(c.pid, SIGSTOP) == 0;
      }
      if (!caught) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(caught) << "signal " << sig << ": the image was never seen under way";
    kill(c.pid, sig);
    kill(c.pid, SIGCONT);
    const RunResult o = finish(c);
    EXPECT_EQ(o.exit_code, 128 + sig) << o.err;
    EXPECT_FALSE(contains(o.out, "SACD ISO created"));
    if (sig != SIGKILL) {
      EXPECT_TRUE(contains(o.err, sig == SIGINT ? "Interrupted (SIGINT): " : "Interrupted (SIGTERM): ")) << o.err;
    }
    Snapshot after = snapshot(a.work);
    if (sig == SIGKILL) {
      for (const std::string& name : leftovers(a.work)) {
        after.erase("/" + name);
        fs::remove(a.in(name));
      }
    }
    EXPECT_EQ(changes(before, after), "") << "signal " << sig;
  }
}

// On a terminal the long steps show one progress line on standard error;
// once it is wiped, both streams read exactly as they do off a terminal.
TEST(OutputSafety, ProgressLineOnlyOnATerminal) {
  Album a;
  ASSERT_TRUE(testsupport::dsdgen({"--channels", "6", "--seconds", "1", "--repeat-period-bytes", "65536", "--title", "Six", a.in("six.dsf")}));
  const struct {
    std::vector<std::string> args;
    std::vector<const char*> steps;
  } cases[] = {
      {a.pack("Shown", {"--dst-fast", a.in("six.dsf")}),
       {"\rReading input 1 of 3", "DST encoding: ", " frames", "\rWriting the image: "}},
      {{"--verify", a.in("disc.iso")}, {"\rHashing the image: "}},
  };
  for (const auto& k : cases) {
    const RunResult shown = run_on_terminal(k.args);
    const RunResult plain = run(k.args);
    ASSERT_EQ(plain.exit_code, 0) << plain.err;
    EXPECT_EQ(shown.exit_code, 0) << shown.err;
    for (const char* step : k.steps) EXPECT_TRUE(contains(shown.err, step)) << step << "\n" << shown.err;
    const TerminalText text = split_progress(shown.err);
    EXPECT_FALSE(text.line_left_standing) << shown.err;
    EXPECT_FALSE(contains(plain.err, "\r"));
    EXPECT_EQ(text.rest, plain.err);
    EXPECT_EQ(shown.out, plain.out);
  }
}

// Ctrl-C in the middle of DST-coding a long track stops the run within a
// moment: one line says so, the exit code is 130, and the earlier outputs
// stay as they were with no temporary file beside them.
TEST(OutputSafety, InterruptStopsDstCodingAtOnce) {
  Album a;
  a.earlier_run();
  // Coding 20 s of six channels on one thread takes far longer than the
  // time the stop is given.
  ASSERT_TRUE(testsupport::dsdgen({"--channels", "6", "--seconds", "20", "--repeat-period-bytes", "65536", "--title", "Long",
                                   a.in("long.dsf")}));
  const Snapshot before = snapshot(a.work);
  const testsupport::Child c = start({"--dst-threads", "1", "-o", a.in("disc.iso"), a.in("long.dsf")});
  bool coding = false;
  for (int i = 0; i < 3000 && !coding; ++i) {
    coding = contains(testsupport::text_so_far(c.err_fd), "[DST] encode SIMD");
    if (!coding) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(coding) << "the coding was never seen under way";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(c.pid, SIGINT);
  const RunResult o = finish(c, 10);
  EXPECT_EQ(o.exit_code, 130) << o.err;
  const size_t last = o.err.rfind('\n', o.err.size() - 2);
  EXPECT_EQ(o.err.substr(last + 1),
            "Interrupted (SIGINT): stopped before finishing; nothing was written and any earlier outputs are as "
            "they were\n");
  EXPECT_FALSE(contains(o.err, "frames encoded"));
  EXPECT_EQ(changes(before, snapshot(a.work)), "");
  EXPECT_TRUE(leftovers(a.work).empty());
}

// Two runs writing the same outputs at once never leave a mix: whatever
// each reports, the image, its manifest and its CUE sheet come from one
// run, and --verify passes; it fails with 2 once the manifest is cut.
TEST(OutputSafety, ConcurrentRunsNeverMix) {
  Album a;
  for (int round = 0; round < 3; ++round) {
    const testsupport::Child one = start(a.pack("Alpha"));
    const testsupport::Child two = start(a.pack("Omega"));
    const RunResult first = finish(one), second = finish(two);
    EXPECT_TRUE(first.exit_code == 0 || second.exit_code == 0) << first.err << second.err;
    const std::string image = read_text(a.in("disc.iso"));
    const std::string cue = read_text(a.in("disc.cue"));
    const bool alpha = contains(image, "Album=Alpha\n");
    EXPECT_NE(alpha, contains(image, "Album=Omega\n"));
    EXPECT_TRUE(contains(cue, alpha ? "TITLE \"Alpha\"" : "TITLE \"Omega\"")) << cue;
    const RunResult verify = run({"--verify", a.in("disc.iso")});
    EXPECT_EQ(verify.exit_code, 0) << verify.err;
    EXPECT_TRUE(leftovers(a.work).empty());
  }
  // A manifest that cannot be used is no pass (its damages are the manifest
  // suite's).
  const std::string manifest = read_text(a.in("disc.iso.delivery.txt"));
  testsupport::write_text(a.in("disc.iso.delivery.txt"), manifest.substr(0, manifest.find("track=")));
  const RunResult cut = run({"--verify", a.in("disc.iso")});
  EXPECT_EQ(cut.exit_code, 2) << cut.err;
  EXPECT_TRUE(contains(cut.err, "[verify] manifest lacks its track lines")) << cut.err;
}
