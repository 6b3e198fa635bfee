// Delivery manifest: the written lines byte for byte, the verifier reading
// them back, mismatches after damage or truncation, unreadable files, and
// the atomic replacement of the manifest file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "manifest/manifest.h"
#include "manifest/sha256.h"
#include "support/capture.h"
#include "support/test_support.h"

using namespace varn;
using testsupport::read_text;
using testsupport::ScratchDir;
using testsupport::write_file;
using testsupport::write_text;

namespace {

using testsupport::contains;

// What f returned and printed.
struct Captured {
  int result = -1;
  std::string out, err;
};
template <typename F>
Captured capture(F f) {
  Captured c;
  const testsupport::Streams s = testsupport::capture([&] { c.result = f(); });
  c.out = s.out;
  c.err = s.err;
  return c;
}

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
    tracks.push_back(make_track(2, "First\tsong\r\nlive"));
    tracks.push_back(make_track(6, "Surround", 5644800, true));
    tracks.push_back(make_track(2, "Second song"));
    layout.output_path = image;
    layout.audio_start_lsn = 540;
    layout.stereo.track_start = {0, 100};
    layout.stereo.track_sectors = {90, 90};
    layout.stereo.track_frames = {1000, 900};
    layout.stereo.total_sectors = 190;
    layout.multi.track_start = {10};
    layout.multi.track_sectors = {50};
    layout.multi.track_frames = {400};
    layout.multi.total_sectors = 60;
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
      "area=mch dsd_rate=128 base_rate=44100 dst=1 start_lsn=730 total_sectors=60\n"
      "track=2ch 1 start_lsn=540 sectors=90 frames=1000 sha256=" + disc.range_sha(540, 90) +
      " title=First song  live\n"
      "track=2ch 2 start_lsn=640 sectors=90 frames=900 sha256=" + disc.range_sha(640, 90) +
      " title=Second song\n"
      "track=mch 1 start_lsn=740 sectors=50 frames=400 sha256=" + disc.range_sha(740, 50) +
      " title=Surround\n";
  EXPECT_EQ(read_text(manifest), expected);
  EXPECT_EQ(c.err, "");
  EXPECT_EQ(manifest_text("\xE4\xB8\xAD x=y"), "\xE4\xB8\xAD x=y");  // multi-byte text kept
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
                       "area=mch dsd_rate=64 base_rate=44100 dst=1 start_lsn=730 total_sectors=60\n"));
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
    EXPECT_FALSE(testsupport::file_exists(dir.file("none.iso.delivery.txt")));
    EXPECT_EQ(write_delivery_manifest({}, DiscLayout{}, ""), 2);
  }
  {
    // A folder in the manifest's place is left alone, and no temporary stays.
    FakeDisc disc;
    const std::string manifest = manifest_path_for(disc.image);
    std::filesystem::create_directory(manifest);
    write_text(manifest + "/keep", "x");
    Captured c = capture([&] { return disc.write(); });
    EXPECT_EQ(c.result, 2);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(disc.dir.path), {}), 2);
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

TEST(Verify, WrittenManifestPassesAndTitlesReadBack) {
  FakeDisc disc;
  ASSERT_EQ(capture([&] { return disc.write(); }).result, 0);
  Captured c = capture([&] { return verify_delivery(disc.image, ""); });
  EXPECT_EQ(c.result, 0) << c.err;
  EXPECT_TRUE(contains(c.out, "[verify] all checks passed (3 tracks)\n"));
  EXPECT_EQ(c.err, "");

  // Damage one byte of the second stereo track: that track and the whole
  // image fail, the title is read to the end of the line.
  disc.bytes[(640 + 5) * 2048 + 17] ^= 0x01;
  write_file(disc.image, disc.bytes);
  c = capture([&] { return verify_delivery(disc.image, manifest_path_for(disc.image)); });
  EXPECT_EQ(c.result, 1);
  EXPECT_TRUE(contains(c.err, "[verify] whole-image hash mismatch: manifest "));
  EXPECT_TRUE(contains(c.err, "[verify] track 2ch2 hash mismatch: manifest "));
  EXPECT_TRUE(contains(c.err, " / actual " + disc.range_sha(640, 90) + " (Second song)\n"));
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
}

// A manifest that lost its whole-image hash, its track lines or its end is
// refused (2); the spelling of the digits and blanks at line ends are not
// damage; a track digest "-" is skipped.
TEST(Verify, TamperedManifests) {
  FakeDisc disc;
  ASSERT_EQ(capture([&] { return disc.write(); }).result, 0);
  const std::string manifest = manifest_path_for(disc.image);
  const std::string good = read_text(manifest);
  const auto upper = [](std::string s) {  // the digests only
    for (size_t at = 0; (at = s.find("sha256=", at)) != std::string::npos; at += 7)
      for (size_t i = at + 7; i < s.size() && i < at + 71; ++i)
        if (s[i] >= 'a' && s[i] <= 'f') s[i] = static_cast<char>(s[i] - 'a' + 'A');
    return s;
  };
  const auto cut_at = [&](const std::string& from) { return good.substr(0, good.find(from)); };
  const auto without_tracks = [&] {
    std::string s;
    for (size_t at = 0, end; at < good.size(); at = end + 1) {
      end = good.find('\n', at);
      if (good.compare(at, 6, "track=") != 0) s += good.substr(at, end - at + 1);
    }
    return s;
  };
  std::string blanks = good;
  for (size_t at = 0; (at = blanks.find('\n', at)) != std::string::npos; at += 4) blanks.replace(at, 1, " \t\r\n");
  std::string dashed = good;
  const std::string first = disc.range_sha(540, 90);
  dashed.replace(dashed.find(first), first.size(), "-");
  const struct {
    const char* name;
    std::string text;
    int result;
    const char* message;
  } cases[] = {
      {"cut before the image hash", cut_at("iso_sha256="), 2, "lacks its whole-image hash"},
      {"only the size", "iso_bytes=" + std::to_string(disc.bytes.size()) + "\n", 2, "lacks its whole-image hash"},
      {"hash of wrong length", cut_at("area=2ch").replace(good.find("iso_sha256=") + 20, 1, ""), 2,
       "lacks its whole-image hash"},
      {"no track lines", without_tracks(), 2, "lacks its track lines"},
      {"last line lost", cut_at("track=mch"), 2, "is cut short"},
      {"cut inside the last line", good.substr(0, good.size() - 3), 2, "is cut short"},
      {"a track line lost", cut_at("track=2ch 2") + good.substr(good.find("track=mch")), 2, "is cut short"},
      {"upper-case digits", upper(good), 0, ""},
      {"trailing blanks and CR LF", blanks, 0, ""},
      {"a track without digest", dashed, 0, ""},
  };
  for (const auto& k : cases) {
    write_text(manifest, k.text);
    Captured c = capture([&] { return verify_delivery(disc.image, ""); });
    EXPECT_EQ(c.result, k.result) << k.name << "\n" << c.err;
    if (k.result == 2) EXPECT_EQ(c.err, "[verify] manifest " + std::string(k.message) + ": " + manifest + "\n") << k.name;
    else EXPECT_TRUE(contains(c.out, "[verify] all checks passed (3 tracks)\n")) << k.name;
  }
}

TEST(Verify, UnreadableFilesGiveTwo) {
  FakeDisc disc;
  // Missing manifest.
  Captured c = capture([&] { return verify_delivery(disc.image, ""); });
  EXPECT_EQ(c.result, 2);
  EXPECT_EQ(verify_delivery("", ""), 2);

  // Missing image.
  ASSERT_EQ(capture([&] { return disc.write(); }).result, 0);
  std::filesystem::remove(disc.image);
  c = capture([&] { return verify_delivery(disc.image, ""); });
  EXPECT_EQ(c.result, 2);
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
  write_text(manifest, "iso_sha256=" + sha256_hex_of(disc.bytes.data(), disc.bytes.size()) + "\ntrack=2ch 1 start_lsn=18446744073709551615 sectors=2 sha256=" + disc.range_sha(0, 1) +
                           " title=x\ntrack=2ch 2 start_lsn=1 sectors=9007199254740993 sha256=ab title=y\n");
  Captured c = capture([&] { return verify_delivery(disc.image, manifest); });
  EXPECT_EQ(c.result, 1);
  EXPECT_TRUE(contains(c.err, "[verify] track 2ch1 range out of bounds\n"));
  EXPECT_TRUE(contains(c.err, "[verify] track 2ch2 range out of bounds\n"));
}
