// Pack, verify, damage one track, verify again: the whole road through the
// console program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/capture.h"
#include "support/test_support.h"

using testsupport::contains;
using testsupport::run_varntessel;

TEST(DeliveryEndToEnd, PackVerifyDamage) {
  testsupport::ScratchDir dir;
  for (const char* name : {"t1.dsf", "t2.dsf"}) {
    auto g = testsupport::run_program(VARN_TEST_DSDGEN, {"--seconds", "1", "--title", name, dir.file(name)});
    ASSERT_EQ(g.exit_code, 0) << g.err;
  }
  const std::string image = dir.file("album.iso");
  auto pack = run_varntessel({"--album", "Album", "-o", image, dir.file("t1.dsf"), dir.file("t2.dsf")});
  ASSERT_EQ(pack.exit_code, 0) << pack.err;
  auto ok = run_varntessel({"--verify", image});
  EXPECT_EQ(ok.exit_code, 0) << ok.err;
  EXPECT_TRUE(contains(ok.out, "[verify] all checks passed (2 tracks)"));

  // Flip a byte in the middle of the second track's range.
  const std::string manifest = testsupport::read_text(image + ".delivery.txt");
  const size_t line = manifest.find("\ntrack=2ch 2 ");
  ASSERT_NE(line, std::string::npos);
  const uint64_t lsn = std::strtoull(manifest.c_str() + manifest.find("start_lsn=", line) + 10, nullptr, 10);
  const uint64_t sectors = std::strtoull(manifest.c_str() + manifest.find("sectors=", line) + 8, nullptr, 10);
  std::vector<uint8_t> bytes = testsupport::read_file(image);
  ASSERT_LE((lsn + sectors) * 2048, bytes.size());
  bytes[(lsn + sectors / 2) * 2048 + 100] ^= 0x10;
  testsupport::write_file(image, bytes);
  auto bad = run_varntessel({"--verify", image});
  EXPECT_EQ(bad.exit_code, 3);
  EXPECT_TRUE(contains(bad.err, "[verify] track 2ch2 hash mismatch"));
  EXPECT_FALSE(contains(bad.err, "[verify] track 2ch1"));
}
