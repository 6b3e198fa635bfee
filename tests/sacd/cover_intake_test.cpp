// Cover intake: the size limit, the name in the volume and the picture
// size notes.
#include <gtest/gtest.h>

#include "sacd/cover_intake.h"
#include "sacd_test_util.h"
#include "support/test_support.h"

using namespace varn;
using testsupport::ScratchDir;

namespace {

// A JPEG with an APP0 segment, a DQT segment and a baseline frame header.
std::vector<uint8_t> jpeg(uint16_t w, uint16_t h) {
  std::vector<uint8_t> b = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0,
                            0xFF, 0xDB, 0x00, 0x05, 1, 2, 3,
                            0xFF, 0xC0, 0x00, 0x11, 0x08, uint8_t(h >> 8), uint8_t(h), uint8_t(w >> 8), uint8_t(w), 3};
  for (int i = 0; i < 40; ++i) b.push_back(0);
  return b;
}

struct Taken {
  bool ok = false;
  CoverFile cover;
  std::string out, err;
};

Taken take(const std::string& path) {
  Taken t;
  const sacdtest::Capture c = sacdtest::capture_output([&] { t.ok = take_in_cover(path, t.cover); });
  t.out = c.out;
  t.err = c.err;
  return t;
}

}  // namespace

TEST(CoverIntake, SixteenMebibytesIsTheLimit) {
  ScratchDir dir;
  std::vector<uint8_t> big = sacdtest::png_picture(300, 300, 40);
  big.resize(16777216, 7);
  testsupport::write_file(dir.file("max.png"), big);
  Taken t = take(dir.file("max.png"));
  EXPECT_TRUE(t.ok);
  EXPECT_EQ(t.cover.bytes, big);
  big.push_back(0);
  testsupport::write_file(dir.file("over.png"), big);
  t = take(dir.file("over.png"));
  EXPECT_FALSE(t.ok);
  EXPECT_EQ(t.err, "  [Cover] " + dir.file("over.png") +
                       ": 16777217 bytes exceeds the 16 MiB limit => **skipped** (the ISO will carry no cover)\n");
  testsupport::write_file(dir.file("empty.png"), {});
  EXPECT_FALSE(take(dir.file("empty.png")).ok);
  EXPECT_FALSE(take(dir.file("absent.png")).ok);
}

TEST(CoverIntake, NameComesFromTheFileNamesExtension) {
  ScratchDir dir;
  testsupport::run_shell("mkdir -p '" + dir.file("my.covers") + "'");
  const std::vector<uint8_t> pic = jpeg(300, 300);
  for (const char* name : {"a.jpeg", "b", "my.covers/front", "c.Png"}) testsupport::write_file(dir.file(name), pic);
  EXPECT_EQ(take(dir.file("a.jpeg")).cover.name, "COVER.JPEG");
  EXPECT_EQ(take(dir.file("b")).cover.name, "COVER.JPG");
  EXPECT_EQ(take(dir.file("my.covers/front")).cover.name, "COVER.JPG");
  Taken t = take(dir.file("c.Png"));
  EXPECT_EQ(t.cover.name, "COVER.PNG");
  EXPECT_EQ(t.out.substr(0, t.out.find('\n') + 1),
            "  [Cover] " + dir.file("c.Png") + " -> ISO:/COVER.PNG (" + std::to_string(pic.size()) + " bytes)\n");
}

TEST(CoverIntake, PictureSizeNotes) {
  ScratchDir dir;
  testsupport::write_file(dir.file("large.jpg"), jpeg(1600, 1200));
  testsupport::write_file(dir.file("fit.png"), sacdtest::png_picture(300, 300, 40));
  testsupport::write_file(dir.file("small.png"), sacdtest::png_picture(200, 400, 40));
  Taken t = take(dir.file("large.jpg"));
  EXPECT_TRUE(t.ok);
  EXPECT_NE(t.out.find("  [Cover] size 1600x1200 is large -- 300x300 recommended (600x600 max);\n"), std::string::npos);
  EXPECT_NE(take(dir.file("fit.png")).out.find("size 300x300 matches the recommendation"), std::string::npos);
  EXPECT_NE(take(dir.file("small.png")).out.find("size 200x400 is small"), std::string::npos);
  int w = 0, h = 0;
  std::vector<uint8_t> cut = jpeg(640, 480);
  cut.resize(30);  // frame header inside the last 10 bytes: not found
  EXPECT_FALSE(picture_size(cut, w, h));
}
