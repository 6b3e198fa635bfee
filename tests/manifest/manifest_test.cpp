// Delivery manifest: the written lines byte for byte, the verifier reading
// them back, mismatches after damage or truncation, unreadable files, and
// the atomic replacement of the manifest file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "frontend/stages.h"
#include "manifest/manifest.h"
#include "manifest/sha256.h"
#include "support/test_support.h"

using namespace varn;
using testsupport::read_text;
using testsupport::ScratchDir;
using testsupport::write_file;
using testsupport::write_text;

namespace {

struct Captured {
  int result = -1;
  std::string out, err;
};

template <typename F>
Captured capture(F f) {
  Captured c;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  c.result = f();
  c.out = testing::internal::GetCapturedStdout();
  c.err = testing::internal::GetCapturedStderr();
  return c;
}

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

InputTrack make_track(uint32_t channels, const std::string& title, uint32_t rate = 2822400, bool dst = false) {
  InputTrack t;
  t.channels = channels;
  t.title = title;
  t.sample_rate = rate;
  t.rate_multiple = rate / base_rate_of(rate);
  t.is_dst = dst;
  return t;
}

// A hand-made disc: two stereo tracks and one multichannel track after a
// pause, and an image holding random bytes over every planned sector.
struct FakeDisc {
  ScratchDir dir;
  std::string image;
  std::vector<InputTrack> tracks;
  DiscLayout layout;
  std::vector<uint8_t> bytes;

  FakeDisc() {
    image = dir.file("album.iso");
    tracks.push_back(make_track(2, "First\tsong\nlive"));
    tracks.push_back(make_track(6, "Surround", 5644800, true));
    tracks.push_back(make_track(2, "Second song"));
    layout.output_path = image;
    layout.audio_start_lsn = 540;
    layout.stereo.track_start = {0, 100};
    layout.stereo.track_sectors = {90, 80};
    layout.stereo.track_frames = {1000, 900};
    layout.stereo.total_sectors = 190;
    layout.multi.track_start = {10};
    layout.multi.track_sectors = {50};
    layout.multi.track_frames = {400};
    layout.multi.total_sectors = 70;
    bytes.resize(size_t(540 + 190 + 70 + 30) * 2048 + 100);
    std::mt19937 gen(7);
    for (auto& b : bytes) b = static_cast<uint8_t>(gen());
    write_file(image, bytes);
  }

  std::string range_sha(uint64_t lsn, uint64_t sectors) const {
    return sha256_hex_of(bytes.data() + lsn * 2048, sectors * 2048);
  }
  int write() const { return write_delivery_manifest(tracks, layout, image); }
};

}  // namespace

TEST(ManifestWrite, LinesByteForByte) {
  FakeDisc disc;
  setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  Captured c = capture([&] { return disc.write(); });
  unsetenv("SOURCE_DATE_EPOCH");
  ASSERT_EQ(c.result, 0) << c.err;
  const std::string manifest = manifest_path_for(disc.image);
  EXPECT_EQ(manifest, disc.image + ".delivery.txt");
  const size_t n = disc.bytes.size();
  const std::string expected =
      "# VarnTessel delivery manifest v1\n"
      "tool=VarnTessel\n"
      "version=6.76.9\n"
      "generated=1700000000\n"
      "iso=album.iso\n"
      "iso_bytes=" + std::to_string(n) + "\n"
      "iso_sectors=831\n"
      "iso_sha256=" + sha256_hex_of(disc.bytes.data(), n) + "\n"
      "area=2ch dsd_rate=64 base_rate=44100 dst=0 start_lsn=540 total_sectors=190\n"
      "area=mch dsd_rate=128 base_rate=44100 dst=1 start_lsn=730 total_sectors=70\n"
      "track=2ch 1 start_lsn=540 sectors=90 frames=1000 sha256=" + disc.range_sha(540, 90) +
      " title=First song live\n"
      "track=2ch 2 start_lsn=640 sectors=80 frames=900 sha256=" + disc.range_sha(640, 80) +
      " title=Second song\n"
      "track=mch 1 start_lsn=740 sectors=50 frames=400 sha256=" + disc.range_sha(740, 50) +
      " title=Surround\n";
  EXPECT_EQ(read_text(manifest), expected);
  EXPECT_EQ(c.out, "[manifest] " + manifest + " (" + std::to_string(n) + " bytes, 831 sectors, 3 tracks)\n");
  EXPECT_EQ(c.err, "");
  EXPECT_FALSE(testsupport::file_exists(manifest + ".tmp"));
}

TEST(ManifestWrite, MillionByteImageAndEmptyLayout) {
  ScratchDir dir;
  const std::string image = dir.file("m.iso");
  write_file(image, std::vector<uint8_t>(1000000, 0x5A));
  DiscLayout layout;
  Captured c = capture([&] { return write_delivery_manifest({}, layout, image); });
  ASSERT_EQ(c.result, 0);
  const std::string text = read_text(manifest_path_for(image));
  EXPECT_TRUE(contains(text, "\niso_bytes=1000000\niso_sectors=489\n"));
  EXPECT_FALSE(contains(text, "area="));
  EXPECT_FALSE(contains(text, "track="));
  EXPECT_TRUE(contains(c.out, "(1000000 bytes, 489 sectors, 0 tracks)"));
}

TEST(ManifestWrite, TimeStampFallsBackToNowForBadEpoch) {
  for (const char* value : {"-5", "abc", ""}) {
    FakeDisc disc;
    setenv("SOURCE_DATE_EPOCH", value, 1);
    const long long before = static_cast<long long>(std::time(nullptr));
    Captured c = capture([&] { return disc.write(); });
    const long long after = static_cast<long long>(std::time(nullptr));
    unsetenv("SOURCE_DATE_EPOCH");
    ASSERT_EQ(c.result, 0);
    const std::string text = read_text(manifest_path_for(disc.image));
    const size_t at = text.find("generated=");
    ASSERT_NE(at, std::string::npos);
    const long long stamp = std::atoll(text.c_str() + at + 10);
    EXPECT_GE(stamp, before) << value;
    EXPECT_LE(stamp, after) << value;
  }
}

TEST(ManifestWrite, AreaDefaultsMonoTracksAndMissingLayoutFields) {
  FakeDisc disc;
  // A mono track sits in the multichannel area (the driver puts every track
  // that is not exactly 2-channel there); its title must follow it.
  disc.tracks = {make_track(1, "Mono"), make_track(2, "Stereo one")};
  disc.layout.stereo.track_sectors = {90};  // the second track has no count
  disc.layout.stereo.track_frames = {};
  Captured c = capture([&] { return disc.write(); });
  ASSERT_EQ(c.result, 0);
  const std::string text = read_text(manifest_path_for(disc.image));
  EXPECT_TRUE(contains(text, "track=2ch 1 start_lsn=540 sectors=90 frames=0 sha256=" + disc.range_sha(540, 90) +
                                 " title=Stereo one\n"));
  EXPECT_TRUE(contains(text, "track=2ch 2 start_lsn=640 sectors=0 frames=0 sha256=- title=\n"));
  EXPECT_TRUE(contains(text, "area=mch dsd_rate=64 base_rate=44100 dst=0 start_lsn=730"));
  EXPECT_TRUE(contains(text, " title=Mono\n"));

  // An area with tracks but no input of its class takes the defaults.
  disc.tracks = {make_track(2, "A"), make_track(2, "B")};
  c = capture([&] { return disc.write(); });
  ASSERT_EQ(c.result, 0);
  EXPECT_TRUE(contains(read_text(manifest_path_for(disc.image)),
                       "area=mch dsd_rate=64 base_rate=44100 dst=1 start_lsn=730 total_sectors=70\n"));
}

TEST(ManifestWrite, OutOfBoundsTrackIsReportedAndLeftUnhashed) {
  FakeDisc disc;
  disc.layout.multi.track_sectors = {200};  // runs past the end of the image
  Captured c = capture([&] { return disc.write(); });
  ASSERT_EQ(c.result, 0);
  EXPECT_TRUE(contains(c.err, "[manifest] track mch1 range out of bounds (off=1515520 len=409600 / file=" +
                                  std::to_string(disc.bytes.size()) + ")\n"));
  EXPECT_TRUE(contains(read_text(manifest_path_for(disc.image)),
                       "track=mch 1 start_lsn=740 sectors=200 frames=400 sha256=- title=Surround\n"));
}

TEST(ManifestWrite, FailuresLeaveNoPartialManifest) {
  {
    ScratchDir dir;
    Captured c = capture([&] { return write_delivery_manifest({}, DiscLayout{}, dir.file("none.iso")); });
    EXPECT_EQ(c.result, 2);
    EXPECT_EQ(c.err, "[manifest] cannot open ISO: " + dir.file("none.iso") + "\n");
    EXPECT_FALSE(testsupport::file_exists(dir.file("none.iso.delivery.txt")));
    EXPECT_EQ(write_delivery_manifest({}, DiscLayout{}, ""), 2);
  }
  {
    // The temporary file cannot be created.
    FakeDisc disc;
    const std::string manifest = manifest_path_for(disc.image);
    std::filesystem::create_directory(manifest + ".tmp");
    Captured c = capture([&] { return disc.write(); });
    EXPECT_EQ(c.result, 2);
    EXPECT_EQ(c.err, "[manifest] cannot write the manifest: " + manifest + "\n");
    EXPECT_FALSE(testsupport::file_exists(manifest));
  }
  {
    // The finished file cannot be renamed into place: the temporary goes.
    FakeDisc disc;
    const std::string manifest = manifest_path_for(disc.image);
    std::filesystem::create_directory(manifest);
    write_text(manifest + "/keep", "x");
    Captured c = capture([&] { return disc.write(); });
    EXPECT_EQ(c.result, 2);
    EXPECT_EQ(c.err, "[manifest] cannot write the manifest: " + manifest + "\n");
    EXPECT_FALSE(testsupport::file_exists(manifest + ".tmp"));
  }
  {
    // An earlier manifest is replaced whole.
    FakeDisc disc;
    const std::string manifest = manifest_path_for(disc.image);
    write_text(manifest, std::string(100000, 'z'));
    ASSERT_EQ(capture([&] { return disc.write(); }).result, 0);
    const std::string text = read_text(manifest);
    EXPECT_EQ(text.rfind("# VarnTessel delivery manifest v1\n", 0), 0u);
    EXPECT_EQ(text.find('z'), std::string::npos);
  }
}

TEST(ManifestWrite, ImageNameWithoutSlashIsWrittenWhole) {
  ScratchDir dir;
  const std::string cwd = std::filesystem::current_path().string();
  ASSERT_EQ(chdir(dir.path.c_str()), 0);
  write_file("C:\\discs\\a b.iso", std::vector<uint8_t>(4096, 1));
  Captured c = capture([&] { return write_delivery_manifest({}, DiscLayout{}, "C:\\discs\\a b.iso"); });
  const std::string text = read_text("C:\\discs\\a b.iso.delivery.txt");
  ASSERT_EQ(chdir(cwd.c_str()), 0);
  ASSERT_EQ(c.result, 0);
  EXPECT_TRUE(contains(text, "\niso=C:\\discs\\a b.iso\n"));
}

TEST(ManifestText, ControlBytesBecomeSpaces) {
  EXPECT_EQ(manifest_text("a\tb\rc\nd"), "a b c d");
  EXPECT_EQ(manifest_text("\xE4\xB8\xAD x=y"), "\xE4\xB8\xAD x=y");
}

TEST(Verify, WrittenManifestPassesAndTitlesReadBack) {
  FakeDisc disc;
  ASSERT_EQ(capture([&] { return disc.write(); }).result, 0);
  Captured c = capture([&] { return verify_delivery(disc.image, ""); });
  EXPECT_EQ(c.result, 0) << c.err;
  EXPECT_EQ(c.out, "[verify] whole-image SHA256 OK  " + sha256_hex_of(disc.bytes.data(), disc.bytes.size()) +
                       "\n[verify] all checks passed (3 tracks)\n");
  EXPECT_EQ(c.err, "");

  // Damage one byte of the second stereo track: that track and the whole
  // image fail, the title is read to the end of the line.
  disc.bytes[(640 + 5) * 2048 + 17] ^= 0x01;
  write_file(disc.image, disc.bytes);
  c = capture([&] { return verify_delivery(disc.image, manifest_path_for(disc.image)); });
  EXPECT_EQ(c.result, 1);
  EXPECT_TRUE(contains(c.err, "[verify] whole-image hash mismatch: manifest "));
  EXPECT_TRUE(contains(c.err, "[verify] track 2ch2 hash mismatch: manifest "));
  EXPECT_TRUE(contains(c.err, " / actual " + disc.range_sha(640, 80) + " (Second song)\n"));
  EXPECT_FALSE(contains(c.err, "track 2ch1"));
  EXPECT_FALSE(contains(c.err, "track mch1"));
  EXPECT_TRUE(contains(c.err, "[verify] 2 mismatch(es)\n"));

  // A title with spaces and '=' signs runs to the end of the line.
  disc.tracks[0].title = "Tab\there key=value  end";
  disc.bytes[(640 + 5) * 2048 + 17] ^= 0x01;
  write_file(disc.image, disc.bytes);
  ASSERT_EQ(capture([&] { return disc.write(); }).result, 0);
  disc.bytes[540 * 2048] ^= 0x80;
  write_file(disc.image, disc.bytes);
  c = capture([&] { return verify_delivery(disc.image, ""); });
  EXPECT_EQ(c.result, 1);
  EXPECT_TRUE(contains(c.err, " (Tab here key=value  end)\n"));
}

TEST(Verify, TruncatedImageGivesSizeAndRangeMismatches) {
  FakeDisc disc;
  ASSERT_EQ(capture([&] { return disc.write(); }).result, 0);
  std::filesystem::resize_file(disc.image, size_t(700) * 2048);  // inside 2ch2, before mch1
  Captured c = capture([&] { return verify_delivery(disc.image, ""); });
  EXPECT_EQ(c.result, 1);
  EXPECT_TRUE(contains(c.err, "[verify] size mismatch: manifest " + std::to_string(disc.bytes.size()) +
                                  " / actual 1433600\n"));
  EXPECT_TRUE(contains(c.err, "[verify] track 2ch2 range out of bounds\n"));
  EXPECT_TRUE(contains(c.err, "[verify] track mch1 range out of bounds\n"));
  EXPECT_FALSE(contains(c.err, "track 2ch1"));
  EXPECT_TRUE(contains(c.err, "[verify] 4 mismatch(es)\n"));  // size, image hash, two ranges

  PackRun run;
  run.job.verify_path = disc.image;
  std::optional<int> code;
  capture([&] { code = stage_verify(run); return 0; });
  EXPECT_EQ(code, std::optional<int>(3));
}

TEST(Verify, PartialManifestsAndSkippedDigests) {
  FakeDisc disc;
  const std::string manifest = disc.dir.file("hand.txt");
  const std::string good = disc.range_sha(540, 90);
  // No iso_sha256 and no iso_bytes: only the tracks; "-" and zero sectors
  // are skipped even when their range is far outside the image.
  write_text(manifest,
             "# comment\n\n"
             "track=2ch 1 start_lsn=540 sectors=90 frames=1 sha256=" + good + " title=x\r\n"
             "track=2ch 2 start_lsn=999999 sectors=80 frames=1 sha256=- title=gone\n"
             "track=mch 1 start_lsn=999999 sectors=0 sha256=" + good + " title=empty\n"
             "track=broken\n"
             "area=2ch dsd_rate=64\n");
  Captured c = capture([&] { return verify_delivery(disc.image, manifest); });
  EXPECT_EQ(c.result, 0) << c.err;
  EXPECT_EQ(c.out, "[verify] all checks passed (3 tracks)\n");

  // Only the size: a wrong size is one mismatch; iso_bytes=0 is no check.
  write_text(manifest, "iso_bytes=12\n");
  c = capture([&] { return verify_delivery(disc.image, manifest); });
  EXPECT_EQ(c.result, 1);
  EXPECT_EQ(c.err, "[verify] size mismatch: manifest 12 / actual " + std::to_string(disc.bytes.size()) +
                       "\n[verify] 1 mismatch(es)\n");
  write_text(manifest, "iso_bytes=" + std::to_string(disc.bytes.size()) + "\n");
  EXPECT_EQ(capture([&] { return verify_delivery(disc.image, manifest); }).result, 0);

  // A file with nothing to check is not taken as a pass.
  write_text(manifest, "# VarnTessel delivery manifest v1\niso_bytes=0\ntrack=2ch 1 sectors=5 sha256=-\n");
  c = capture([&] { return verify_delivery(disc.image, manifest); });
  EXPECT_EQ(c.result, 2);
  EXPECT_EQ(c.err, "[verify] manifest holds nothing to check: " + manifest + "\n");
}

TEST(Verify, UnreadableFilesGiveTwo) {
  FakeDisc disc;
  // Missing manifest.
  Captured c = capture([&] { return verify_delivery(disc.image, ""); });
  EXPECT_EQ(c.result, 2);
  EXPECT_EQ(c.err, "[verify] manifest not found: " + manifest_path_for(disc.image) + "\n");
  EXPECT_EQ(verify_delivery("", ""), 2);

  // Missing image.
  ASSERT_EQ(capture([&] { return disc.write(); }).result, 0);
  std::filesystem::remove(disc.image);
  c = capture([&] { return verify_delivery(disc.image, ""); });
  EXPECT_EQ(c.result, 2);
  EXPECT_EQ(c.err, "[verify] cannot open ISO: " + disc.image + "\n");

  PackRun run;
  run.job.verify_path = disc.image;
  std::optional<int> code;
  capture([&] { code = stage_verify(run); return 0; });
  EXPECT_EQ(code, std::optional<int>(2));
  run.job.verify_path.clear();
  EXPECT_EQ(stage_verify(run), std::nullopt);
}

TEST(Verify, StageGivesZeroForAMatch) {
  FakeDisc disc;
  ASSERT_EQ(capture([&] { return disc.write(); }).result, 0);
  PackRun run;
  run.job.verify_path = disc.image;
  std::optional<int> code;
  capture([&] { code = stage_verify(run); return 0; });
  EXPECT_EQ(code, std::optional<int>(0));
}

TEST(Verify, GarbageManifestsNeverCrash) {
  FakeDisc disc;
  const std::string manifest = disc.dir.file("garbage.txt");
  std::mt19937 gen(5);
  const std::string alphabet = "track=2ch mch 0123456789 start_lsn= sectors= sha256=- title=\n\r\t iso_bytes= iso_sha256=";
  for (int round = 0; round < 200; ++round) {
    std::string text;
    const size_t n = std::uniform_int_distribution<size_t>(0, 400)(gen);
    for (size_t i = 0; i < n; ++i) {
      text.push_back(round % 2 ? static_cast<char>(gen())
                               : alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(gen)]);
    }
    write_text(manifest, text);
    Captured c = capture([&] { return verify_delivery(disc.image, manifest); });
    EXPECT_TRUE(c.result == 0 || c.result == 1 || c.result == 2);
  }
  // Huge sector numbers are out of bounds, not wrapped into the image.
  write_text(manifest, "track=2ch 1 start_lsn=18446744073709551615 sectors=2 sha256=" + disc.range_sha(0, 1) +
                           " title=x\ntrack=2ch 2 start_lsn=1 sectors=9007199254740993 sha256=ab title=y\n");
  Captured c = capture([&] { return verify_delivery(disc.image, manifest); });
  EXPECT_EQ(c.result, 1);
  EXPECT_TRUE(contains(c.err, "[verify] track 2ch1 range out of bounds\n"));
  EXPECT_TRUE(contains(c.err, "[verify] track 2ch2 range out of bounds\n"));
}
