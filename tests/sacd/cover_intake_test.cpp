// Cover intake: what is taken, the name in the volume and the picture
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

TEST(CoverIntake, RegularPictureFilesUpToSixteenMebibytes) {
  ScratchDir dir;
  std::vector<uint8_t> big = sacdtest::png_picture(300, 300, 40);
  big.resize(16777216, 7);
  testsupport::write_file(dir.file("max.png"), big);
  Taken t = take(dir.file("max.png"));
  EXPECT_TRUE(t.ok);
  EXPECT_EQ(t.cover.bytes, big);
  big.push_back(0);
  testsupport::write_file(dir.file("over.png"), big);
  testsupport::write_file(dir.file("empty.png"), {});
  testsupport::write_text(dir.file("notes.jpg"), "not a picture");
  testsupport::run_shell("mkfifo '" + dir.file("fifo.png") + "'");
  const struct {
    std::string path, why;
  } refused[] = {
      {dir.file("over.png"), "16777217 bytes exceeds the 16 MiB limit"},
      {dir.file("empty.png"), "the file is empty"},
      {dir.file("absent.png"), "No such file or directory"},
      {dir.path, "a directory, not a file"},
      {"/dev/zero", "not a regular file"},
      {dir.file("fifo.png"), "not a regular file"},
      {dir.file("notes.jpg"), "neither a JPEG nor a PNG picture"},
  };
  for (const auto& r : refused) {
    t = take(r.path);
    EXPECT_FALSE(t.ok) << r.path;
    EXPECT_EQ(t.err, "  [Cover] " + r.path + ": " + r.why + " => the cover cannot be used\n");
  }
}

TEST(CoverIntake, NameComesFromTheContent) {
  ScratchDir dir;
  const std::vector<uint8_t> jpg = jpeg(300, 300), png = sacdtest::png_picture(300, 300, 40);
  const struct {
    const char* file;
    const std::vector<uint8_t>& bytes;
    const char* name;
  } cases[] = {{"a.jpeg", jpg, "COVER.JPG"}, {"b", png, "COVER.PNG"}, {"c.Png", jpg, "COVER.JPG"}, {"d.jpg", png, "COVER.PNG"}};
  for (const auto& c : cases) {
    testsupport::write_file(dir.file(c.file), c.bytes);
    Taken t = take(dir.file(c.file));
    EXPECT_EQ(t.cover.name, c.name) << c.file;
    EXPECT_EQ(t.out.substr(0, t.out.find('\n') + 1), "  [Cover] " + dir.file(c.file) + " -> ISO:/" + c.name + " (" +
                                                         std::to_string(c.bytes.size()) + " bytes)\n");
  }
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
