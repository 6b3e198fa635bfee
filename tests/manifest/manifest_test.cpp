// Delivery manifest: the lines byte for byte, verification after a flipped
// byte or a cut image, and damaged manifests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "manifest/manifest.h"
#include "manifest/sha256.h"
#include "support/capture.h"
#include "support/pinned.h"
#include "support/test_support.h"

using namespace varn;
using testsupport::contains;
using testsupport::sha256_of;
using testsupport::read_text;
using testsupport::write_file;
using testsupport::write_text;

namespace {

struct Captured {
  int result = -1;  // as the front end sees it: 0 passed, 1 a check failed, 2 unreadable
  std::string out, err;
};

// Two stereo tracks and one multichannel track, and an image of random
// bytes over every planned sector.
struct FakeDisc {
  testsupport::ScratchDir dir;
  std::string image = dir.file("album.iso");
  std::vector<ManifestArea> areas = {{"2ch", 64, 44100, 0, 540, 190}, {"mch", 128, 44100, 1, 730, 60}};
  std::vector<ManifestTrack> entries = {{"2ch", 1, 540, 90, 1000, "", "First\tsong\r\nlive"},
                                        {"2ch", 2, 640, 90, 900, "", "Second song"},
                                        {"mch", 1, 740, 50, 400, "", "Surround"}};
  std::vector<uint8_t> bytes = testsupport::random_bytes(size_t(830) * 2048 + 100, 7);

  FakeDisc() { write_file(image, bytes); }
  std::string range_sha(uint64_t lsn, uint64_t sectors) const {
    return sha256_hex_of(bytes.data() + lsn * 2048, sectors * 2048);
  }
  // The manifest as the image writer's digests make it, written beside the image.
  DeliveryManifest write() {
    for (ManifestTrack& t : entries)
      if (t.sectors) t.sha256 = range_sha(t.start_lsn, t.sectors);
    const DeliveryManifest m =
        manifest_from_digests(image, bytes.size(), sha256_hex_of(bytes.data(), bytes.size()), areas, entries);
    write_text(m.path, m.text);
    return m;
  }
  Captured verify() const {
    VerifyReport found;
    const Status error = verify_delivery(image, "", found);
    Captured c;
    for (const ReportLine& l : found.lines) (l.stream == ReportStream::Out ? c.out : c.err) += l.text;
    c.result = error ? 2 : found.mismatches > 0 ? 1 : 0;
    if (error) c.err += error->text;
    return c;
  }
};

}  // namespace

TEST(ManifestWrite, LinesByteForByte) {
  FakeDisc disc;
  setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  disc.entries.push_back({"mch", 2, 790, 0, 0, "", "Empty"});
  DeliveryManifest m = disc.write();
  unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_EQ(m.path, disc.image + ".delivery.txt");
  const size_t n = disc.bytes.size();
  EXPECT_EQ(m.summary, "[manifest] " + m.path + " (" + std::to_string(n) + " bytes, 831 sectors, 4 tracks)\n");
  // The header lines (tool, version, SOURCE_DATE_EPOCH, image name, size,
  // sectors, digest), one line per area, one per track with its range's
  // digest ("-" for none) and its title with tabs and line breaks as blanks.
  EXPECT_TRUE(contains(m.text, " title=First song  live\n")) << m.text;
  EXPECT_EQ(sha256_of(m.text), "a2e3107399482bb347d5ed71ddd75a0666e42046ebd63a95a2318f7f13506a6d");
}

TEST(Verify, CutImageAndMissingFiles) {
  FakeDisc disc;
  disc.write();
  Captured c = disc.verify();
  EXPECT_EQ(c.result, 0) << c.err;
  EXPECT_TRUE(contains(c.out, "[verify] all checks passed (3 tracks)\n"));

  // Cut inside 2ch2, before mch1: size, image hash and two ranges.
  std::filesystem::resize_file(disc.image, size_t(700) * 2048);
  c = disc.verify();
  EXPECT_EQ(c.result, 1);
  EXPECT_TRUE(contains(c.err, "[verify] track 2ch2 range out of bounds\n"));
  EXPECT_TRUE(contains(c.err, "[verify] track mch1 range out of bounds\n"));
  EXPECT_TRUE(contains(c.err, "[verify] 4 mismatch(es)\n"));

  // Without the image, or without a manifest: 2.
  std::filesystem::remove(disc.image);
  EXPECT_EQ(disc.verify().result, 2);
  std::filesystem::remove(manifest_path_for(disc.image));
  write_file(disc.image, disc.bytes);
  EXPECT_EQ(disc.verify().result, 2);
}

// A manifest whose image hash is no digest, or that lost its end, is
// refused; the case of the digits, blanks at line ends and a "-" digest
// are not damage.
TEST(Verify, DamagedManifests) {
  FakeDisc disc;
  disc.write();
  const std::string manifest = manifest_path_for(disc.image);
  const std::string good = read_text(manifest);
  const auto cut_at = [&](const std::string& from) { return good.substr(0, good.find(from)); };
  std::string upper = good, blanks = good, dashed = good;
  for (size_t at = 0; (at = upper.find("sha256=", at)) != std::string::npos; at += 7)
    for (size_t i = at + 7; i < upper.size() && i < at + 71; ++i) upper[i] = char(std::toupper(upper[i]));
  for (size_t at = 0; (at = blanks.find('\n', at)) != std::string::npos; at += 4) blanks.replace(at, 1, " \t\r\n");
  dashed.replace(dashed.find(disc.range_sha(540, 90)), 64, "-");
  const struct {
    std::string text;
    const char* refusal;  // nullptr: passes
  } cases[] = {
      {cut_at("area=2ch").replace(good.find("iso_sha256=") + 20, 1, ""), "lacks its whole-image hash"},
      {cut_at("track=mch"), "is cut short"},
      {good.substr(0, good.size() - 3), "is cut short"},
      {upper, nullptr},
      {blanks, nullptr},
      {dashed, nullptr},
  };
  for (const auto& k : cases) {
    write_text(manifest, k.text);
    Captured c = disc.verify();
    EXPECT_EQ(c.result, k.refusal ? 2 : 0) << k.text << c.err;
    if (k.refusal) {
      EXPECT_EQ(c.err, "[verify] manifest " + std::string(k.refusal) + ": " + manifest + "\n");
    }
  }
  // Huge sector numbers are out of bounds, not wrapped into the image.
  write_text(manifest, "iso_sha256=" + sha256_hex_of(disc.bytes.data(), disc.bytes.size()) +
                           "\ntrack=2ch 1 start_lsn=18446744073709551615 sectors=2 sha256=" + disc.range_sha(0, 1) +
                           " title=x\ntrack=2ch 2 start_lsn=1 sectors=9007199254740993 sha256=ab title=y\n");
  Captured c = disc.verify();
  EXPECT_EQ(c.result, 1);
  EXPECT_TRUE(contains(c.err, "[verify] track 2ch1 range out of bounds\n"));
  EXPECT_TRUE(contains(c.err, "[verify] track 2ch2 range out of bounds\n"));
}
