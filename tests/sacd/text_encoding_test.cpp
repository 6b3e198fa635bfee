// Disc text encodings: the choice of character set, the conversions with
// their '?' replacement and 511-byte limit, and the per-thread encoder.
#include <gtest/gtest.h>

#include <thread>

#include "sacd/text_encoding.h"

using namespace varn;

namespace {
const std::string kKana = "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88";  // テスト
const std::string kHangul = "\xED\x95\x9C\xEA\xB8\x80";            // 한글
const std::string kHan = "\xE4\xB8\xAD\xE6\x96\x87";               // 中文
const std::string kEmoji = "\xF0\x9F\x8E\xB5";                     // U+1F3B5
}  // namespace

TEST(CharsetChoice, Rules) {
  EXPECT_EQ(choose_charset({"Album", "Artist", "", "Title"}), 0);
  EXPECT_EQ(choose_charset({"Album", "Artist", "Intro " + kKana}), 3);
  EXPECT_EQ(choose_charset({kHangul, "x" + kHangul, kHan}), 4);
  EXPECT_EQ(choose_charset({kHan}), 5);
  // Accented Latin that ISO-8859-1 holds (typographic dashes, quotes and
  // the ellipsis written plain) gets ISO-8859-1; with other scripts the
  // rule above stands.
  EXPECT_EQ(choose_charset({"Caf\xC3\xA9", "\xC3\x81ria \xE2\x80\x94 \xE2\x80\x9Cx\xE2\x80\x9D\xE2\x80\xA6"}), 2);
  EXPECT_EQ(choose_charset({"Caf\xC3\xA9", kHan}), 5);
  EXPECT_EQ(choose_charset({"Caf\xC3\xA9", kKana}), 3);
  EXPECT_EQ(choose_charset({"Caf\xC3\xA9", "\xC4\x8C" "esk\xC3\xA1"}), 5);
  EXPECT_EQ(choose_charset({kEmoji}), 5);
  // Japanese wins ties with the other counts.
  EXPECT_EQ(choose_charset({kKana, kHan}), 3);
  EXPECT_EQ(choose_charset({kKana + kHangul, kHangul}), 3);
  // A cut three-byte sequence at the end is stepped over.
  EXPECT_EQ(choose_charset({std::string("\xE3\x83")}), 5);
}

TEST(CharsetChoice, DiscTexts) {
  std::vector<InputTrack> tracks(2);
  tracks[1].title = kKana;
  const std::vector<std::string> texts = disc_charset_texts("A", "B", tracks);
  EXPECT_EQ(texts.size(), 6u);
  EXPECT_EQ(texts[4], kKana);
  EXPECT_EQ(choose_charset(texts), 3);
}

TEST(TextEncoding, Conversions) {
  EXPECT_EQ(encode_text_as(3, kKana), "\x83\x65\x83\x58\x83\x67");
  EXPECT_EQ(encode_text_as(4, kHangul), "\xC7\xD1\xB1\xDB");
  EXPECT_EQ(encode_text_as(5, kHan), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(encode_text_as(6, kHan), "\xA4\xA4\xA4\xE5");
  EXPECT_EQ(encode_text_as(2, "Caf\xC3\xA9"), "Caf\xE9");
  EXPECT_EQ(encode_text_as(7, "Caf\xC3\xA9"), "Caf\xE9");
  EXPECT_EQ(encode_text_as(2, "\xC3\x81 \xE2\x80\x93 \xE2\x80\x98x\xE2\x80\x99\xE2\x80\xA6"), "\xC1 - 'x'...");
  EXPECT_EQ(encode_text_as(0, kKana), kKana);
  EXPECT_EQ(encode_text_as(1, "Caf\xC3\xA9"), "Caf??");
  // What the target lacks becomes '?': 'ø' has no GBK form, 'é' has.
  EXPECT_EQ(encode_text_as(5, "\xC3\xB8-\xC3\xA9"), "?-\xA8\xA6");
  EXPECT_EQ(encode_text_as(3, kEmoji + "a"), "?a");
  EXPECT_EQ(encode_text_as(2, kHan), "??");
  // Invalid UTF-8 is replaced, not passed through.
  EXPECT_EQ(encode_text_as(3, std::string("a\xFF") + kKana.substr(0, 3)), "a?\x83\x65");
}

TEST(TextEncoding, FirstBytesOnly) {
  std::string kana;
  for (int i = 0; i < 200; ++i) kana += "\xE3\x81\x82";  // 600 bytes
  const std::string sj = encode_text_as(3, kana);
  // 511 bytes: 170 whole characters and a cut one.
  ASSERT_EQ(sj.size(), 341u);
  EXPECT_EQ(sj.substr(0, 2), "\x82\xA0");
  EXPECT_EQ(sj.back(), '?');
  const std::string ascii(700, 'q');
  EXPECT_EQ(encode_text_as(3, ascii), ascii);
  EXPECT_EQ(encode_text_as(99, kKana), kKana);
}

TEST(TextEncoding, CodePages) {
  EXPECT_EQ(code_page_of("utf8"), 65001u);
  EXPECT_EQ(code_page_of("Shift-JIS"), 932u);
  EXPECT_EQ(code_page_of("sjis"), 932u);
  EXPECT_EQ(code_page_of("euc-kr"), 949u);
  EXPECT_EQ(code_page_of("GB18030"), 936u);
  EXPECT_EQ(code_page_of("big-5"), 950u);
  EXPECT_EQ(code_page_of("latin1"), 28591u);
  EXPECT_EQ(code_page_of("UTF-16LE"), 1200u);
  EXPECT_EQ(code_page_of("us-ascii"), 20127u);
  EXPECT_EQ(code_page_of("KOI8-R"), 0u);
  EXPECT_EQ(convert_disc_text(kKana, "KOI8-R"), kKana);
  EXPECT_EQ(convert_disc_text(kKana, "sjis"), "\x83\x65\x83\x58\x83\x67");
}

TEST(TextEncoding, CurrentEncoderIsPerThread) {
  select_charset(3);
  EXPECT_EQ(current_charset(), 3);
  EXPECT_EQ(encode_disc_text(kKana), "\x83\x65\x83\x58\x83\x67");
  uint8_t seen = 255;
  std::thread([&] {
    seen = current_charset();
    select_charset(5);
  }).join();
  EXPECT_EQ(seen, 0);
  EXPECT_EQ(current_charset(), 3);
  select_charset(42);
  EXPECT_EQ(current_charset(), 0);
}

TEST(TextEncoding, CharacterBoundaries) {
  const std::string sj = "\x83\x65" "a" "\x83\x58";
  EXPECT_EQ(cut_encoded(3, sj, 4), "\x83\x65" "a");
  EXPECT_EQ(cut_encoded(3, sj, 1), "");
  EXPECT_EQ(cut_encoded(0, kKana, 7), kKana.substr(0, 6));
  EXPECT_EQ(cut_encoded(2, "abc", 2), "ab");
  EXPECT_EQ(encoded_char_length(5, "\xD6", 0), 1u);  // cut at the end
}
