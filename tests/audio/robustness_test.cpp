// Every reader survives thousands of random mutations of valid files (bytes,
// fields set to extreme values, cuts): no crash, a refusal names the file and
// hands nothing on, and what is accepted is a sound record.
#include <gtest/gtest.h>

#include <random>

#include "audio_test_util.h"

using namespace audiotest;

namespace {

struct Base {
  std::string name;
  std::vector<uint8_t> bytes;
};

std::vector<Base> bases() {
  ScratchDir dir;
  dsdgen::DsfOptions s;
  s.tags.title = "Title";
  s.tags.track = "3/9";
  s.tags.picture = std::vector<uint8_t>(64, 0xD8);
  s.tags.picture_first = true;
  dsdgen::DffOptions d;
  d.didx_title = "Title";
  d.comt_genre = "Jazz";
  d.extra_chunks.push_back({"MARK", std::vector<uint8_t>(21, 1)});
  d.tags.version = 4;
  d.tags.title = "t";
  dsdgen::DffOptions c;
  c.dst_frames = coded_frames(2, 2);
  c.didx_utf16 = true;
  c.didx_title = "U";
  EXPECT_TRUE(dsdgen::write_dsf(dir.file("a"), 2, 2822400, signal(2, 2822400, 8000), s));
  EXPECT_TRUE(dsdgen::write_dsdiff(dir.file("b"), 5, 2822400, signal(5, 2822400, 4001 * 8), d));
  EXPECT_TRUE(dsdgen::write_dsdiff(dir.file("c"), 2, 2822400, {}, c));
  return {{"m.dsf", testsupport::read_file(dir.file("a"))},
          {"m.dff", testsupport::read_file(dir.file("b"))},
          {"m.dff", testsupport::read_file(dir.file("c"))}};
}

// Reads one file and checks what came back. True when accepted.
bool read_and_check(const std::string& path, const std::string& what) {
  InputTrack t;
  ReadResult r = read(path, t);
  SCOPED_TRACE(what);
  if (!r.ok) {
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(t.audio.empty() && t.dst_frames.frames.empty() && t.cover.empty());
    EXPECT_NE(r.err.find("Error: "), std::string::npos) << r.err;
    return false;
  }
  EXPECT_TRUE(t.channels == 2 || t.channels == 5 || t.channels == 6) << t.channels;
  EXPECT_GE(t.sample_rate, 600u);
  EXPECT_EQ(r.err.find("Error"), std::string::npos) << r.err;
  if (t.is_dst) {
    EXPECT_EQ(t.sample_count, t.dst_frames.frames.size() * uint64_t(t.sample_rate / 75));
  } else {
    EXPECT_EQ(t.audio.size() % (uint64_t(t.channels) * (t.sample_rate / 600)), 0u);
    EXPECT_GE(t.audio.size(), t.channels * (t.sample_count / 8));
  }
  return true;
}

}  // namespace

TEST(ReaderRobustness, RandomMutations) {
  ScratchDir dir;
  const std::vector<Base> all = bases();
  // Most edits land in the headers and the tail, where the structure is.
  std::mt19937_64 rng(20240611);
  const uint64_t extremes[] = {0, 1, 2, 5, 28, 48, 600, 0x80, 0xFF, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFF, ~0ull};
  int accepted = 0;
  const int kMutations = 3000;
  for (int m = 0; m < kMutations; ++m) {
    const Base& b = all[m % all.size()];
    std::vector<uint8_t> f = b.bytes;
    for (int e = 0, edits = 1 + int(rng() % 4); e < edits; ++e) {
      const uint64_t where = rng() % 10;
      const size_t at = where < 5   ? rng() % std::min<size_t>(f.size(), 256)
                        : where < 8 ? f.size() - 1 - rng() % std::min<size_t>(f.size(), 600)
                                    : rng() % f.size();
      const uint64_t kind = rng() % 10;
      if (kind < 5) {
        f[at] = uint8_t(rng());
      } else if (kind < 9) {
        const int width = (rng() & 1) ? 8 : 4;
        put(f, at, extremes[rng() % std::size(extremes)], int(std::min<size_t>(width, f.size() - at)),
            b.name == "m.dff");
      } else {
        f.erase(f.begin() + long(std::max<size_t>(1, at)), f.end());
      }
    }
    testsupport::write_file(dir.file(b.name), f);
    accepted += read_and_check(dir.file(b.name), b.name + " mutation " + std::to_string(m));
    if (testing::Test::HasFailure()) return;
  }
  // Both outcomes occur often: the corpus is neither all junk nor all intact.
  EXPECT_GT(accepted, kMutations / 10);
  EXPECT_LT(accepted, kMutations * 9 / 10);
}
