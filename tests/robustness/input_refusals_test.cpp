// Input refusals: every input the command line names is used, or the run
// ends with 1 before anything is written, with a message that names the
// file or the option. Inputs are made by dsdgen and then cut or altered
// here; the console program reads them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "dsdgen/dsdgen.h"
#include "support/file_bytes.h"
#include "support/test_support.h"

using testsupport::cut;
using testsupport::get_be;
using testsupport::put;
using testsupport::read_file;
using testsupport::top_chunk;
using testsupport::ScratchDir;
using testsupport::write_file;
using Bytes = std::vector<uint8_t>;

namespace {

namespace fs = std::filesystem;

void make_input(const std::vector<std::string>& args) { ASSERT_TRUE(testsupport::dsdgen(args)); }

// A DST-coded DSDIFF file of the given frames.
Bytes dst_dsdiff(uint32_t channels, uint32_t rate, std::vector<Bytes> frames) {
  dsdgen::DffOptions o;
  o.dst_frames = std::move(frames);
  return dsdgen::build_dsdiff(channels, rate, {}, o);
}

// The frames of a DST-coded DSDIFF file.
std::vector<Bytes> frames_of(const Bytes& f) {
  std::vector<Bytes> out;
  const size_t dst = top_chunk(f, "DST ");
  const size_t end = dst + 12 + get_be(f, dst + 4, 8);
  for (size_t at = dst + 12; at + 12 <= end;) {
    const uint64_t n = get_be(f, at + 4, 8);
    if (std::equal(f.begin() + at, f.begin() + at + 4, "DSTF")) out.emplace_back(f.begin() + at + 12, f.begin() + at + 12 + n);
    at += 12 + n + (n & 1);
  }
  return out;
}

struct Case {
  std::string what;
  std::vector<std::string> args;   // the command line after the program name
  std::vector<std::string> names;  // texts the refusal must carry
};

// A folder of inputs made by dsdgen and the cases' own files.
struct Inputs {
  ScratchDir dir;
  std::string in(const std::string& name) const { return dir.file(name); }
  Inputs() {
    make_input({"--seconds", "0.2", "--title", "A", in("a.dsf")});
    make_input({"--seconds", "0.2", "--signal", "tone", in("b.dsf")});
    make_input({"--seconds", "0.2", "--channels", "6", in("six.dff")});
    make_input({"--seconds", "0.1", "--dst", in("dst.dff")});
    make_input({"--seconds", "0.1", "--dst", "--channels", "6", in("dst6.dff")});
  }
  std::string make(const std::string& name, const Bytes& bytes) const {
    write_file(in(name), bytes);
    return in(name);
  }
  // Runs every case: exit 1, each name in the message, nothing written.
  void refuse_all(const std::vector<Case>& cases) const {
    for (const Case& c : cases) {
      const testsupport::Snapshot before = testsupport::snapshot(dir.path);
      const testsupport::RunResult r = testsupport::run_varntessel(c.args);
      EXPECT_EQ(r.exit_code, 1) << c.what << "\n" << r.out << r.err;
      // Under the sanitizer build a report also ends with 1: it must not be one.
      EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << c.what << "\n" << r.err;
      EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << c.what << "\n" << r.err;
      for (const std::string& n : c.names)
        EXPECT_NE(r.err.find(n), std::string::npos) << c.what << ": no '" << n << "' in\n" << r.err;
      EXPECT_EQ(testsupport::changes(before, testsupport::snapshot(dir.path)), "") << c.what;
    }
  }
};

// One folder of inputs for all tests (dsdgen takes a while for the DST files).
Inputs& inputs() {
  static Inputs shared;
  return shared;
}

}  // namespace

// Damaged or contradictory DSF and DSDIFF files, among sound ones (each
// reader's refusals, message by message, are the reader suite's).
TEST(InputRefusals, DamagedAudioFiles) {
  Inputs& t = inputs();
  // 2 x 70560 bytes in 18 rows of two 4096-byte blocks, then a tag; the
  // last row holds 924 bytes of each channel.
  const Bytes dsf = read_file(t.in("a.dsf"));
  const size_t tag = 92 + 18 * 8192;
  ASSERT_EQ(dsf[tag], 'I');
  auto dsf_with = [&](size_t at, uint64_t v, int width) {
    Bytes f = dsf;
    put(f, at, v, width);
    return f;
  };
  Bytes last_row = cut(dsf, tag - 4000);  // inside channel 1's last block, sizes made to fit
  put(last_row, 20, 0, 8);
  put(last_row, 84, last_row.size() - 80, 8);
  const Bytes six = read_file(t.in("six.dff"));

  const std::string a = t.in("a.dsf"), b = t.in("b.dsf"), iso = t.in("out.iso");
  const std::string declares = "header declares ";
  fs::create_directories(t.in("d.dsf"));
  std::vector<Case> cases = {
      {"missing among three", {"-o", iso, a, t.in("missing.dsf"), b}, {t.in("missing.dsf"), "1 of 3 input files"}},
      {"not audio", {"-o", iso, a, t.make("notes.txt", {'x'})}, {"Unknown extension: " + t.in("notes.txt")}},
      {"a folder", {"-o", iso, a, t.in("d.dsf")}, {t.in("d.dsf"), "a directory"}},
      {"text named .dsf", {"-o", iso, t.make("text.dsf", Bytes(200, 't')), b}, {"Failed to read: " + t.in("text.dsf")}},
      {"cut in the tag", {"-o", iso, t.make("tagcut.dsf", cut(dsf, dsf.size() - 5)), b}, {t.in("tagcut.dsf"), "truncated"}},
      {"cut in the last block row", {"-o", iso, t.make("row.dsf", last_row)}, {t.in("row.dsf"), declares}},
      {"sample count past the audio (into the tag)", {"-o", iso, t.make("count.dsf", dsf_with(64, 8 * 74000, 8))},
       {t.in("count.dsf"), declares}},
      {"data chunk size 2^64-1", {"-o", iso, t.make("dmax.dsf", dsf_with(84, ~uint64_t(0), 8))}, {t.in("dmax.dsf"), "truncated"}},
      {"bits per sample 0", {"-o", iso, t.make("bps0.dsf", dsf_with(60, 0, 4))}, {t.in("bps0.dsf"), "bits per sample 0"}},
      {"bits per sample 16", {"-o", iso, t.make("bps16.dsf", dsf_with(60, 16, 4))}, {t.in("bps16.dsf"), "bits per sample 16"}},
      {"DSDIFF cut short", {"-o", iso, t.make("cut.dff", cut(six, six.size() - 1))}, {t.in("cut.dff"), "truncated"}},
  };
  t.refuse_all(cases);
}

// DST-coded DSDIFF input: every frame decodes before the file is taken, and
// what a file declares never sizes the memory used for it.
TEST(InputRefusals, DstCodedDsdiff) {
  Inputs& t = inputs();
  const std::vector<Bytes> good = frames_of(read_file(t.in("dst.dff")));
  const std::vector<Bytes> six = frames_of(read_file(t.in("dst6.dff")));
  ASSERT_EQ(good.size(), 7u);
  ASSERT_EQ(six.size(), 7u);
  Bytes noise(good[1].size());
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = uint8_t((i * 2654435761u) >> 13);
  noise[0] |= 0x80;
  const std::string iso = t.in("out.iso");
  auto with = [&](size_t k, const Bytes& frame) {
    std::vector<Bytes> f = good;
    f[k] = frame;
    return dst_dsdiff(2, 2822400, f);
  };
  std::vector<Case> cases = {
      {"150 empty frames at FS 0xFFFFFFFF", {"-o", iso, t.make("fs.dff", dst_dsdiff(2, 0xFFFFFFFFu, std::vector<Bytes>(150)))},
       {t.in("fs.dff"), "4294967295 Hz"}},
      {"100000 empty frames", {"-o", iso, t.make("empty.dff", dst_dsdiff(2, 2822400, std::vector<Bytes>(100000)))},
       {t.in("empty.dff"), "DST frame 1 of 100000", "empty frame"}},
      {"an empty frame", {"-o", iso, t.make("e3.dff", with(2, {}))}, {t.in("e3.dff"), "DST frame 3 of 7"}},
      {"random bytes", {"-o", iso, t.make("noise.dff", with(4, noise))}, {t.in("noise.dff"), "DST frame 5 of 7"}},
      {"an 8 MB frame", {"-o", iso, t.make("big.dff", with(1, Bytes(8 << 20, 0x80)))},
       {t.in("big.dff"), "DST frame 2 of 7", "larger than the plain frame"}},
      {"6-channel frames under CHNL 5", {"-o", iso, t.make("ch5.dff", dst_dsdiff(5, 2822400, six))},
       {t.in("ch5.dff"), "DST frame 1 of 7"}},
      {"2-channel frames under CHNL 6", {"-o", iso, t.make("ch6.dff", dst_dsdiff(6, 2822400, good))},
       {t.in("ch6.dff"), "DST frame 1 of 7"}},
  };
  t.refuse_all(cases);
  // The sound file itself is taken, through its own frames.
  const testsupport::RunResult r = testsupport::run_varntessel({"-o", t.in("dump/"), t.make("ok.dff", dst_dsdiff(2, 2822400, good))});
  EXPECT_EQ(r.exit_code, 0) << r.err;
}

// --cover, --cue and the numbers and track numbers of the command line.
TEST(InputRefusals, OptionsAndSideFiles) {
  Inputs& t = inputs();
  const std::string a = t.in("a.dsf"), b = t.in("b.dsf"), iso = t.in("out.iso");
  fs::create_directories(t.in("folder"));
  t.make("empty.jpg", {});
  t.make("notes.png", {'n', 'o', 't', 'e'});
  fs::resize_file(t.make("huge.jpg", {0xFF, 0xD8, 0xFF, 0xE0}), 16777217);
  if (!fs::exists(t.in("fifo.cue"))) mkfifo(t.in("fifo.cue").c_str(), 0600);
  fs::resize_file(t.make("huge.cue", {'T'}), 1048577);
  auto cover = [&](const std::string& path) { return std::vector<std::string>{"-o", iso, "--cover", path, a}; };
  const std::string range = "is out of range (tracks are numbered from 1)";
  std::vector<Case> cases = {
      {"cover missing", cover(t.in("none.jpg")), {"--cover " + t.in("none.jpg"), "No such file"}},
      {"cover a folder", cover(t.in("folder")), {"--cover " + t.in("folder"), "a directory"}},
      {"cover empty", cover(t.in("empty.jpg")), {"--cover " + t.in("empty.jpg"), "empty"}},
      {"cover /dev/zero", cover("/dev/zero"), {"--cover /dev/zero", "not a regular file"}},
      {"cover over 16 MiB", cover(t.in("huge.jpg")), {"--cover " + t.in("huge.jpg"), "16777217 bytes exceeds the 16 MiB limit"}},
      {"cover not a picture", cover(t.in("notes.png")), {"--cover " + t.in("notes.png"), "neither a JPEG nor a PNG"}},
      {"CUE /dev/zero", {"-o", iso, "--cue", "/dev/zero", a}, {"/dev/zero", "not a regular file"}},
      {"CUE FIFO", {"-o", iso, "--cue", t.in("fifo.cue"), a}, {t.in("fifo.cue"), "not a regular file"}},
      {"CUE over 1 MiB", {"-o", iso, "--cue", t.in("huge.cue"), a}, {t.in("huge.cue"), "more than the limit of 1048576 bytes"}},
      {"pause 75x", {"-o", iso, "--pause=75x", a}, {"invalid number '75x' for --pause"}},
      {"pause 1e9", {"-o", iso, "--pause=1e9", a}, {"invalid number '1e9' for --pause"}},
      {"track 0", {"-o", iso, "--track-title", "0:X", a}, {"--track-title: track number 0 " + range}},
      {"track -1 as a value", {"-o", iso, "--track-title", "-1:X", a}, {"--track-title: track number -1 " + range}},
      {"track past the last", {"-o", iso, "--track-artist=3:X", a, b}, {"--track-artist names track 3, but there are only 2"}},
      {"ISRC past the last", {"-o", iso, "--isrc", "2:USABC2400001", a}, {"--isrc names track 2, but there is only 1"}},
      {"album past the last", {"--dsd-disc", "-o", iso, "--track-album=2:Rock", a}, {"--track-album names track 2"}},
      {"trailing --album", {"-o", iso, a, "--album"}, {"--album needs a value"}},
  };
  t.refuse_all(cases);
  // The same file twice is two tracks, with a warning naming both places.
  const testsupport::RunResult r = testsupport::run_varntessel({"-o", t.in("dump/"), a, b, t.in("./a.dsf")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("Warning: input 3 (" + t.in("./a.dsf") + ") is the same file as input 1 (" + a + ")"),
            std::string::npos)
      << r.err;
  // A picture in the tags that no disc can carry is left out, and the disc
  // is made without a cover.
  for (const std::string& picture : {std::string("notes.png"), std::string("huge.jpg")}) {
    make_input({"--seconds", "0.1", "--cover", t.in(picture), t.in("pictured.dsf")});
    const testsupport::RunResult p = testsupport::run_varntessel({"-o", iso, t.in("pictured.dsf")});
    EXPECT_EQ(p.exit_code, 0) << p.err;
    EXPECT_NE(p.err.find("the picture in the tags of " + t.in("pictured.dsf") +
                         (picture == "huge.jpg" ? ": 16777217 bytes exceeds" : " is neither JPEG nor PNG")),
              std::string::npos)
        << p.err;
  }
}

// The DSD Disc holds DSF files that parse, under names readers show as given
// (names beyond ASCII are the DSD Disc and UDF suites').
TEST(InputRefusals, DsdDiscInputs) {
  Inputs& t = inputs();
  const Bytes dsf = read_file(t.in("a.dsf"));
  const std::string iso = t.in("disc.iso"), a = t.in("a.dsf");
  const std::string no_dsf = " is not a DSF file that can be read";
  std::vector<Case> cases = {
      {"text named .dsf", {"--dsd-disc", "-o", iso, a, t.make("text.dsf", Bytes(300, 't'))}, {t.in("text.dsf") + no_dsf}},
      {"PNG named .dsf", {"--dsd-disc", "-o", iso, t.make("pic.dsf", {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0})},
       {t.in("pic.dsf") + no_dsf}},
      {"a DSDIFF file", {"--dsd-disc", "-o", iso, t.in("six.dff")}, {t.in("six.dff") + no_dsf}},
      {"a cut DSF file", {"--dsd-disc", "-o", iso, t.make("cut.dsf", cut(dsf, dsf.size() - 9))}, {t.in("cut.dsf") + no_dsf}},
      {"a backslash in the name", {"--dsd-disc", "-o", iso, t.make("we\\ird.dsf", dsf)},
       {"file name must not contain path separators: 'we\\ird.dsf'"}},
  };
  t.refuse_all(cases);
}
