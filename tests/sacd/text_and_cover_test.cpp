// Disc text: the choice of character set, the conversions with their '?'
// replacement and 511-byte limit, cuts between characters. Cover intake:
// what is taken and under which name.
#include <gtest/gtest.h>

#include "sacd/cover_intake.h"
#include "sacd/text_encoding.h"
#include "sacd_test_util.h"

using namespace varn;

namespace {
const std::string kKana = "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88";  // テスト
const std::string kHangul = "\xED\x95\x9C\xEA\xB8\x80";            // 한글
const std::string kHan = "\xE4\xB8\xAD\xE6\x96\x87";               // 中文
const std::string kEmoji = "\xF0\x9F\x8E\xB5";                     // U+1F3B5
const std::string kCafe = "Caf\xC3\xA9";
}  // namespace

TEST(CharsetChoice, Rules) {
  // Accented Latin that ISO-8859-1 holds (dashes, quotes and the ellipsis
  // written plain) gets code 2; Japanese wins ties; a cut sequence at the
  // end is stepped over.
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{"Album", "Artist", "", "Title"}, 0},
      {{"Album", "Intro " + kKana}, 3},
      {{kHangul, "x" + kHangul, kHan}, 4},
      {{kHan}, 5},
      {{kCafe, "\xC3\x81ria \xE2\x80\x94 \xE2\x80\x9Cx\xE2\x80\x9D\xE2\x80\xA6"}, 2},
      {{kCafe, kHan}, 5},
      {{kCafe, kKana}, 3},
      {{kCafe, "\xC4\x8C" "esk\xC3\xA1"}, 5},
      {{kEmoji}, 5},
      {{kKana, kHan}, 3},
      {{kKana + kHangul, kHangul}, 3},
      {{std::string("\xE3\x83")}, 5},
  };
  for (const auto& [texts, code] : cases) EXPECT_EQ(choose_charset(texts), code) << texts[0];
  std::vector<InputTrack> tracks(2);
  tracks[1].title = kKana;
  EXPECT_EQ(disc_charset("A", "B", tracks), 3);
}

TEST(TextEncoding, Conversions) {
  const std::tuple<uint8_t, std::string, std::string> cases[] = {
      {3, kKana, "\x83\x65\x83\x58\x83\x67"},
      {4, kHangul, "\xC7\xD1\xB1\xDB"},
      {5, kHan, "\xD6\xD0\xCE\xC4"},
      {6, kHan, "\xA4\xA4\xA4\xE5"},
      {2, kCafe, "Caf\xE9"},
      {7, kCafe, "Caf\xE9"},
      {2, "\xC3\x81 \xE2\x80\x93 \xE2\x80\x98x\xE2\x80\x99\xE2\x80\xA6", "\xC1 - 'x'..."},
      {0, kKana, kKana},
      {99, kKana, kKana},
      {1, kCafe, "Caf??"},
      {5, "\xC3\xB8-\xC3\xA9", "?-\xA8\xA6"},  // 'ø' has no GBK form, 'é' has
      {3, kEmoji + "a", "?a"},
      {2, kHan, "??"},
      {3, std::string("a\xFF") + kKana.substr(0, 3), "a?\x83\x65"},  // invalid UTF-8 is replaced
      {3, std::string(700, 'q'), std::string(700, 'q')},
  };
  for (const auto& [code, in, out] : cases) EXPECT_EQ(encode_text_as(code, in), out) << int(code) << " " << in;
  // Only the first 511 bytes are converted: 170 whole characters and a cut one.
  std::string kana;
  for (int i = 0; i < 200; ++i) kana += "\xE3\x81\x82";
  const std::string sj = encode_text_as(3, kana);
  ASSERT_EQ(sj.size(), 341u);
  EXPECT_EQ(sj.back(), '?');
  EXPECT_EQ(cut_encoded(3, "\x83\x65" "a" "\x83\x58", 4), "\x83\x65" "a");
  EXPECT_EQ(cut_encoded(0, kKana, 7), kKana.substr(0, 6));
  EXPECT_EQ(encoded_char_length(5, "\xD6", 0), 1u);
  for (auto [name, page] : {std::pair{"utf8", 65001u}, {"sjis", 932u}, {"euc-kr", 949u}, {"GB18030", 936u},
                            {"big-5", 950u}, {"latin1", 28591u}, {"UTF-16LE", 1200u}, {"KOI8-R", 0u}})
    EXPECT_EQ(code_page_of(name), page) << name;
  EXPECT_EQ(convert_disc_text(kKana, "KOI8-R"), kKana);
  EXPECT_EQ(convert_disc_text(kKana, "sjis"), "\x83\x65\x83\x58\x83\x67");
}

TEST(CoverIntake, NameFromTheContentAndTheSizeLimit) {
  testsupport::ScratchDir dir;
  const std::vector<uint8_t> jpg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0,
                                    0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0x2C, 0x01, 0x2C, 3, 0, 0, 0, 0, 0, 0, 0, 0};
  const std::vector<uint8_t> png = sacdtest::png_picture(300, 300, 40);
  const std::tuple<const char*, const std::vector<uint8_t>*, const char*> cases[] = {
      {"a.jpeg", &jpg, "COVER.JPG"}, {"b", &png, "COVER.PNG"}, {"c.Png", &jpg, "COVER.JPG"}, {"d.jpg", &png, "COVER.PNG"}};
  for (const auto& [file, bytes, name] : cases) {
    testsupport::write_file(dir.file(file), *bytes);
    CoverFile c;
    testsupport::capture([&] { EXPECT_FALSE(take_in_cover(dir.file(file), c)); });
    EXPECT_EQ(c.name, name) << file;
    EXPECT_EQ(c.bytes, *bytes);
  }
  int w = 0, h = 0;
  EXPECT_TRUE(picture_size(jpg, w, h) && w == 300 && h == 300);
  EXPECT_FALSE(picture_size(std::vector<uint8_t>(jpg.begin(), jpg.begin() + 30), w, h));
  // 16 MiB is taken (the refusals are checked through the console program
  // in the robustness suite).
  std::vector<uint8_t> big = png;
  big.resize(16777216, 7);
  testsupport::write_file(dir.file("max.png"), big);
  CoverFile c;
  testsupport::capture([&] { EXPECT_FALSE(take_in_cover(dir.file("max.png"), c)); });
  EXPECT_EQ(c.bytes.size(), big.size());
}
