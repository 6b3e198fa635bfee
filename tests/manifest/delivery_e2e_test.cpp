// Pack, verify, damage one track, verify again: the whole road through the
// console program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/capture.h"
#include "support/test_support.h"

using testsupport::contains;

using testsupport::RunResult;
using testsupport::ScratchDir;

namespace {

// start_lsn and sectors of one "track=<area> <n> ..." line of a manifest.
bool track_range(const std::string& manifest, const std::string& prefix, uint64_t& lsn, uint64_t& sectors) {
  const size_t at = manifest.find("\n" + prefix + " ");
  if (at == std::string::npos) return false;
  const size_t l = manifest.find("start_lsn=", at), s = manifest.find("sectors=", at);
  if (l == std::string::npos || s == std::string::npos) return false;
  lsn = std::strtoull(manifest.c_str() + l + 10, nullptr, 10);
  sectors = std::strtoull(manifest.c_str() + s + 8, nullptr, 10);
  return true;
}

}  // namespace

TEST(DeliveryEndToEnd, PackVerifyDamageAndLoss) {
  ScratchDir dir;
  const char* const kTitles[2] = {"Song 1", "Song 2"};
  const char* const kFiles[2] = {"t1.dsf", "t2.dsf"};
  const char* const kFreqs[2] = {"440", "880"};
  for (int i = 0; i < 2; ++i) {
    RunResult g = testsupport::run_program(VARN_TEST_DSDGEN, {"--seconds", "1", "--signal", "tone", "--freq",
                                                              kFreqs[i], "--title", kTitles[i], dir.file(kFiles[i])});
    ASSERT_EQ(g.exit_code, 0) << g.err;
  }
  const std::string image = dir.file("album.iso");
  RunResult pack = testsupport::run_varntessel(
      {"--album", "Album", "--artist", "Band", "-o", image, dir.file("t1.dsf"), dir.file("t2.dsf")},
      {"SOURCE_DATE_EPOCH=1700000000"});
  ASSERT_EQ(pack.exit_code, 0) << pack.err;
  ASSERT_TRUE(testsupport::file_exists(image + ".delivery.txt"));

  RunResult ok = testsupport::run_varntessel({"--verify", image});
  EXPECT_EQ(ok.exit_code, 0) << ok.err;
  EXPECT_TRUE(contains(ok.out, "[verify] all checks passed (2 tracks)"));

  uint64_t lsn = 0, sectors = 0;
  ASSERT_TRUE(track_range(testsupport::read_text(image + ".delivery.txt"), "track=2ch 2", lsn, sectors));
  std::vector<uint8_t> bytes = testsupport::read_file(image);
  ASSERT_LE((lsn + sectors) * 2048, bytes.size());
  bytes[(lsn + sectors / 2) * 2048 + 100] ^= 0x10;
  testsupport::write_file(image, bytes);
  RunResult bad = testsupport::run_varntessel({"--verify", image});
  EXPECT_EQ(bad.exit_code, 3);
  EXPECT_TRUE(contains(bad.err, "[verify] track 2ch2 hash mismatch"));
  EXPECT_FALSE(contains(bad.err, "[verify] track 2ch1"));
}
