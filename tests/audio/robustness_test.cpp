// Every reader survives every cut of a valid file and thousands of random
// mutations: no crash, no read outside a buffer (checked under the
// sanitizer build), refusals carry their messages, and what is accepted is
// a sound record.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "audio/input_track.h"
#include "audio_test_util.h"
#include "support/test_support.h"

using namespace audiotest;
using testsupport::ScratchDir;
using testsupport::write_file;
using varn::InputTrack;

namespace {

struct Base {
  std::string name;
  bool dsf;
  std::vector<uint8_t> bytes;
};

std::vector<uint8_t> file_bytes(const ScratchDir& dir, const std::string& name, bool dsf, uint32_t ch,
                                uint32_t rate, const std::vector<uint8_t>& payload,
                                const dsdgen::DsfOptions& so, const dsdgen::DffOptions& fo) {
  const std::string path = dir.file(name);
  if (dsf)
    EXPECT_TRUE(dsdgen::write_dsf(path, ch, rate, payload, so));
  else
    EXPECT_TRUE(dsdgen::write_dsdiff(path, ch, rate, payload, fo));
  return testsupport::read_file(path);
}

std::vector<Base> bases() {
  ScratchDir dir;
  std::vector<Base> out;
  {
    dsdgen::DsfOptions o;
    o.tags.title = "Title";
    o.tags.artist = "Artist";
    o.tags.track = "3/9";
    o.tags.picture = std::vector<uint8_t>(64, 0xD8);
    o.tags.picture_first = true;
    out.push_back({"lsb.dsf", true, file_bytes(dir, "a", true, 2, 2822400, signal(2, 2822400, 8000), o, {})});
  }
  {
    dsdgen::DsfOptions o;
    o.block_size = 0;
    o.lsb_first = false;
    o.tags.version = 4;
    o.tags.utf16 = true;
    o.tags.title = "T\xC3\xADtulo";
    o.tags.genre = "G";
    out.push_back({"msb.dsf", true, file_bytes(dir, "b", true, 5, 5644800, signal(5, 5644800, 4000), o, {})});
  }
  {
    dsdgen::DffOptions o;
    o.didx_title = "Title";
    o.didx_artist = "Artist";
    o.comt_genre = "Jazz";
    o.comt_date = "2001";
    o.extra_chunks.push_back({"MARK", std::vector<uint8_t>(21, 1)});
    o.tags.title = "t";
    out.push_back({"plain.dff", false, file_bytes(dir, "c", false, 2, 2822400, signal(2, 2822400, 4001 * 8), {}, o)});
  }
  {
    dsdgen::DffOptions o;
    o.tags.version = 4;
    o.tags.title = "Id3 title";
    o.tags.artist = "Id3 artist";
    o.tags.track = "5";
    out.push_back({"id3.dff", false, file_bytes(dir, "d", false, 5, 2822400, std::vector<uint8_t>(5 * 301, 0x96), {}, o)});
  }
  {
    dsdgen::DffOptions o;
    o.dst_frames = coded_frames(2, 2);
    o.didx_utf16 = true;
    o.didx_title = "U";
    o.didx_artist = "V";
    o.comt_genre = "Pop";
    out.push_back({"dst.dff", false, file_bytes(dir, "e", false, 2, 2822400, {}, {}, o)});
  }
  return out;
}

const char* const kDsfErrors[] = {
    "bad fmt chunk or data chunk (corrupt DSF header)", "unsupported channels ", "no DSD data",
    "sample_count is 0 (bad header field)", "header declares ", "bad sample rate ",
    "bad data chunk size ", "the data chunk declares ",
    "unsupported bits per sample ", "metadata pointer ", "the ID3v2 tag at "};
const char* const kDffErrors[] = {"not a DSDIFF file (bad FRM8 magic or form type)",
                                  "PROP/SND chunk not found",
                                  "unsupported channels ",
                                  "DSD/DST data chunk not found",
                                  "malformed DSDIFF (no CHNL channel info)",
                                  "malformed DSDIFF (bad FS sample rate ",
                                  "failed to read DSD data",
                                  "failed to read DST data",
                                  "FRM8 declares ",
                                  "chunk '",
                                  "the DSD chunk holds ",
                                  "CHNL declares ",
                                  "DST chunk entry ",
                                  "the DST chunk holds no frames",
                                  "FRTE declares ",
                                  "DST frame ",
                                  "DST-coded audio at "};

// Reads one file and checks what came back. Returns true when accepted.
bool read_and_check(const Base& b, const std::string& path, const std::string& what) {
  InputTrack t;
  ReadResult r = b.dsf ? run_dsf(path, t) : run_dff(path, t);
  SCOPED_TRACE(b.name + " " + what);
  if (!r.ok) {
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(t.audio.empty());
    EXPECT_TRUE(t.dst_frames.empty());
    EXPECT_TRUE(t.cover.empty());
    const size_t e = r.err.rfind("  Error: " + path + ": ");
    if (e == std::string::npos) {
      ADD_FAILURE() << "a refusal without its message: " << r.err;
      return false;
    }
    const std::string msg = r.err.substr(e + 11 + path.size());
    bool known = false;
    if (b.dsf) {
      for (const char* m : kDsfErrors) known |= msg.compare(0, std::strlen(m), m) == 0;
    } else {
      for (const char* m : kDffErrors) known |= msg.find(m) != std::string::npos;
    }
    EXPECT_TRUE(known) << r.err;
    return false;
  }
  EXPECT_TRUE(t.channels == 2 || t.channels == 5 || t.channels == 6) << t.channels;
  EXPECT_GE(t.sample_rate, 600u);
  EXPECT_EQ(r.out.compare(0, 8, b.dsf ? "  [DSF] " : "  [DFF] "), 0) << r.out;
  EXPECT_EQ(r.err.find("Error"), std::string::npos) << r.err;
  const uint64_t frame = uint64_t(t.channels) * (t.sample_rate / 600);
  if (t.is_dst) {
    EXPECT_EQ(t.sample_count, t.dst_frames.size() * uint64_t(t.sample_rate / 75));
    EXPECT_TRUE(t.audio.empty());
  } else {
    EXPECT_TRUE(t.dst_frames.empty());
    EXPECT_EQ(t.audio.size() % frame, 0u);
    EXPECT_GE(t.audio.size(), t.channels * (t.sample_count / 8));
  }
  return true;
}

}  // namespace

TEST(ReaderRobustness, EveryCutOfAValidFile) {
  ScratchDir dir;
  for (const Base& b : bases()) {
    const std::string path = dir.file(b.name);
    write_file(path, b.bytes);
    ASSERT_TRUE(read_and_check(b, path, "whole"));
    const size_t n = b.bytes.size();
    int accepted = 0, refused = 0;
    for (size_t cut = 0; cut < n; ++cut) {
      // Every byte of the headers and of the tail (where tags and trailing
      // chunks lie), every 11th byte of the audio in between.
      if (cut >= 512 && cut + 700 < n && cut % 11 != 0) continue;
      write_file(path, std::vector<uint8_t>(b.bytes.begin(), b.bytes.begin() + cut));
      (read_and_check(b, path, "cut at " + std::to_string(cut)) ? accepted : refused)++;
      if (testing::Test::HasFailure()) return;
    }
    EXPECT_GT(refused, 0) << b.name;
  }
}

TEST(ReaderRobustness, RandomMutations) {
  ScratchDir dir;
  const std::vector<Base> all = bases();
  std::mt19937_64 rng(20240611);
  const uint64_t extremes[] = {0, 1, 2, 5, 11, 28, 47, 48, 599, 600, 0x7F, 0x80, 0xFF, 0xFFFF,
                               0x7FFFFFFF, 0xFFFFFFFF, 0x7FFFFFFFFFFFFFFFull, ~0ull};
  int accepted = 0;
  const int kMutations = 3000;
  for (int m = 0; m < kMutations; ++m) {
    const Base& b = all[m % all.size()];
    std::vector<uint8_t> f = b.bytes;
    const int edits = 1 + int(rng() % 4);
    std::string what = "mutation " + std::to_string(m) + ":";
    for (int e = 0; e < edits; ++e) {
      // Most edits land in the headers or the tail, where the structure is.
      size_t at;
      const uint64_t where = rng() % 10;
      if (where < 5)
        at = rng() % std::min<size_t>(f.size(), 256);
      else if (where < 8)
        at = f.size() - 1 - rng() % std::min<size_t>(f.size(), 600);
      else
        at = rng() % f.size();
      const uint64_t kind = rng() % 10;
      if (kind < 5) {
        f[at] = uint8_t(rng());
        what += " byte@" + std::to_string(at);
      } else if (kind < 9) {
        const uint64_t v = extremes[rng() % (sizeof extremes / sizeof extremes[0])];
        const int width = (rng() & 1) ? 8 : 4;
        const bool big = b.dsf ? false : true;
        for (int i = 0; i < width && at + i < f.size(); ++i)
          f[at + i] = big ? uint8_t(v >> (8 * (width - 1 - i))) : uint8_t(v >> (8 * i));
        what += " field@" + std::to_string(at);
      } else {
        f.resize(std::max<size_t>(1, at));
        what += " cut@" + std::to_string(at);
      }
    }
    const std::string path = dir.file(b.dsf ? "m.dsf" : "m.dff");
    write_file(path, f);
    accepted += read_and_check(b, path, what);
    if (testing::Test::HasFailure()) return;
  }
  // Both outcomes occur often: the corpus is neither all junk nor all intact.
  EXPECT_GT(accepted, kMutations / 10);
  EXPECT_LT(accepted, kMutations * 9 / 10);
}
