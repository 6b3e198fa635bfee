// ID3v2 lookups, the UTF-16 conversion and the bit-reverse table, against
// tags from dsdgen's builder and hand-made byte strings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/bit_reverse.h"
#include "audio/id3.h"
#include "audio/reader_common.h"
#include "dsdgen/dsdgen.h"

using varn::find_id3_picture;
using varn::find_id3_text;
using varn::utf16_to_utf8;

namespace {

std::string text(const std::vector<uint8_t>& tag, const char* id) {
  return find_id3_text(tag.data(), tag.size(), id);
}

// A tag of the given version and header flags holding the frames as given.
std::vector<uint8_t> tag_of(int version, const std::vector<std::vector<uint8_t>>& frames,
                            uint8_t flags = 0) {
  std::vector<uint8_t> body;
  for (const auto& f : frames) body.insert(body.end(), f.begin(), f.end());
  std::vector<uint8_t> t(10 + body.size());
  const uint8_t head[10] = {'I', 'D', '3', uint8_t(version), 0, flags,
                            uint8_t((body.size() >> 21) & 0x7F), uint8_t((body.size() >> 14) & 0x7F),
                            uint8_t((body.size() >> 7) & 0x7F), uint8_t(body.size() & 0x7F)};
  std::copy(head, head + 10, t.begin());
  std::copy(body.begin(), body.end(), t.begin() + 10);
  return t;
}

std::vector<uint8_t> frame(const char* id, uint32_t size_field, const std::vector<uint8_t>& body,
                           uint8_t flags = 0) {
  std::vector<uint8_t> f(id, id + 4);
  f.push_back(uint8_t(size_field >> 24));
  f.push_back(uint8_t(size_field >> 16));
  f.push_back(uint8_t(size_field >> 8));
  f.push_back(uint8_t(size_field));
  f.push_back(0);
  f.push_back(flags);
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

std::vector<uint8_t> latin(const std::string& s) {
  std::vector<uint8_t> b(1 + s.size(), 0);
  std::copy(s.begin(), s.end(), b.begin() + 1);
  return b;
}

std::vector<uint8_t> bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// An ID3v2.2 frame: three-letter id, 24-bit size, no flags.
std::vector<uint8_t> frame22(const char* id, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> f(id, id + 3);
  for (int s : {16, 8, 0}) f.push_back(uint8_t(body.size() >> s));
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

std::vector<uint8_t> sized(const char* id, const std::vector<uint8_t>& body, uint8_t flags = 0) {
  return frame(id, uint32_t(body.size()), body, flags);
}

}  // namespace

TEST(BitReverse, EveryEntryIsItsMirror) {
  const uint8_t* t = varn::bit_reverse_table();
  for (int v = 0; v < 256; ++v)
    for (int b = 0; b < 8; ++b) EXPECT_EQ((v >> b) & 1, (t[v] >> (7 - b)) & 1) << v;
}

TEST(Utf16ToUtf8, ByteOrderMarkAndDefaultOrder) {
  const uint8_t le_bom[] = {0xFF, 0xFE, 'A', 0, 0xE9, 0};
  EXPECT_EQ(utf16_to_utf8(le_bom, sizeof le_bom, false), "A\xC3\xA9");
  const uint8_t be_bom[] = {0xFE, 0xFF, 0, 'A', 0x20, 0xAC};
  EXPECT_EQ(utf16_to_utf8(be_bom, sizeof be_bom, true), "A\xE2\x82\xAC");
  const uint8_t bare[] = {0, 'x', 0, 'y'};
  EXPECT_EQ(utf16_to_utf8(bare, sizeof bare, false), "xy");
  EXPECT_EQ(utf16_to_utf8(bare, sizeof bare, true), std::string("\xE7\xA0\x80\xE7\xA4\x80"));
}

TEST(Utf16ToUtf8, StopsAtZeroUnitAndOddTail) {
  const uint8_t z[] = {0xFF, 0xFE, 'a', 0, 0, 0, 'b', 0};
  EXPECT_EQ(utf16_to_utf8(z, sizeof z), "a");
  EXPECT_EQ(varn::utf16_to_utf8_keep_zeros(z, sizeof z, true), std::string("a\0b", 3));
  const uint8_t odd[] = {0xFF, 0xFE, 'a', 0, 'b'};
  EXPECT_EQ(utf16_to_utf8(odd, sizeof odd), "a");
  EXPECT_EQ(utf16_to_utf8(odd, 0), "");
  EXPECT_EQ(utf16_to_utf8(odd, 1), "");
  EXPECT_EQ(utf16_to_utf8(odd, 2), "");  // the mark alone
}

TEST(Utf16ToUtf8, SurrogatePairsAndLoneHalves) {
  // U+1F600 as D83D DE00: one four-byte sequence; a lone half is U+FFFD.
  const uint8_t s[] = {0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE};
  EXPECT_EQ(utf16_to_utf8(s, sizeof s), "\xF0\x9F\x98\x80");
  const uint8_t lone[] = {0xFF, 0xFE, 0x00, 0xDE, 'a', 0, 0x3D, 0xD8};
  EXPECT_EQ(utf16_to_utf8(lone, sizeof lone), "\xEF\xBF\xBD" "a" "\xEF\xBF\xBD");
  const uint8_t two[] = {0xFF, 0xFE, 0xFF, 0x07};  // U+07FF: last two-byte unit
  EXPECT_EQ(utf16_to_utf8(two, sizeof two), "\xDF\xBF");
}

TEST(Id3Text, PictureBeforeTitleInVersion3) {
  dsdgen::Id3Tags t;
  t.version = 3;
  t.picture = std::vector<uint8_t>(1000, 0xAB);
  t.picture_first = true;
  t.title = "After the picture";
  std::vector<uint8_t> tag = dsdgen::build_id3(t);
  EXPECT_EQ(text(tag, "TIT2"), "After the picture");
  EXPECT_EQ(find_id3_picture(tag.data(), tag.size()), t.picture);
}

TEST(Id3Text, Utf16WithMarksOverridesEncodingDefault) {
  dsdgen::Id3Tags t;
  t.utf16 = true;
  t.title = "Caf\xC3\xA9 \xE2\x82\xAC";
  for (bool be : {false, true}) {
    t.utf16_big_endian = be;
    std::vector<uint8_t> tag = dsdgen::build_id3(t);
    EXPECT_EQ(text(tag, "TIT2"), t.title);
  }
}

TEST(Id3Picture, FrontCoverWinsOverEarlierPicture) {
  dsdgen::Id3Tags t;
  t.picture = {1, 2, 3};
  t.picture_type = 0;
  dsdgen::Id3Picture front;
  front.data = {9, 8, 7, 6};
  front.type = 3;
  front.description = "front";
  t.more_pictures.push_back(front);
  std::vector<uint8_t> tag = dsdgen::build_id3(t);
  EXPECT_EQ(find_id3_picture(tag.data(), tag.size()), front.data);
  t.more_pictures.clear();
  tag = dsdgen::build_id3(t);
  EXPECT_EQ(find_id3_picture(tag.data(), tag.size()), (std::vector<uint8_t>{1, 2, 3}));
  // Two ordinary pictures: the first one.
  dsdgen::Id3Picture other;
  other.data = {5, 5};
  t.more_pictures.push_back(other);
  tag = dsdgen::build_id3(t);
  EXPECT_EQ(find_id3_picture(tag.data(), tag.size()), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(Id3Picture, FieldsAndUtf16Description) {
  // Encoding 1: the description ends with two zero bytes at an even distance.
  std::vector<uint8_t> body = {1, 'i', '/', 'p', 0, 3, 0xFF, 0xFE, 'd', 0, 0, 0, 0xAA, 0xBB};
  std::vector<uint8_t> tag = tag_of(3, {frame("APIC", uint32_t(body.size()), body)});
  EXPECT_EQ(find_id3_picture(tag.data(), tag.size()), (std::vector<uint8_t>{0xAA, 0xBB}));
  // The zero pair must sit at an even distance: 'd' 00 | 00 'x' is not it.
  body = {1, 'i', 0, 3, 'd', 0, 0, 'x', 0, 0, 0xCC};
  tag = tag_of(3, {frame("APIC", uint32_t(body.size()), body)});
  EXPECT_EQ(find_id3_picture(tag.data(), tag.size()), (std::vector<uint8_t>{0xCC}));
  // Fields running past the frame: skipped; the next picture counts.
  std::vector<uint8_t> bad = {0, 'i', '/', 'p', 'n', 'g'};       // MIME never ends
  std::vector<uint8_t> bad2 = {0, 'i', 0, 3, 'd', 'e', 's', 'c'};  // description never ends
  std::vector<uint8_t> good = {0, 0, 0, 0, 0x42};
  tag = tag_of(3, {frame("APIC", uint32_t(bad.size()), bad), frame("APIC", uint32_t(bad2.size()), bad2),
                   frame("APIC", 4, {0, 0, 0, 0}), frame("APIC", uint32_t(good.size()), good)});
  EXPECT_EQ(find_id3_picture(tag.data(), tag.size()), (std::vector<uint8_t>{0x42}));
}

TEST(Id3Picture, FramePastTheTagIsNotRead) {
  std::vector<uint8_t> good = {0, 0, 0, 0, 0x42};
  std::vector<uint8_t> tag = tag_of(3, {frame("APIC", uint32_t(good.size()), good), frame("APIC", 5000, {0, 0, 3, 0, 1})});
  EXPECT_EQ(find_id3_picture(tag.data(), tag.size()), (std::vector<uint8_t>{0x42}));
  tag = tag_of(3, {frame("TIT2", 0xFFFFFFFFu, latin("x")), frame("APIC", 5, good)});
  EXPECT_TRUE(find_id3_picture(tag.data(), tag.size()).empty());
  EXPECT_TRUE(find_id3_picture(tag.data(), 19).empty());
}

// Hand-built tags, each row a whole tag, the frame looked up and the UTF-8
// text expected: the forms other taggers write, and the walk's limits.
TEST(Id3Text, HandBuiltTags) {
  const std::vector<uint8_t> dli = {0, 0, 0, 4};  // data-length indicator
  struct Row {
    const char* what;
    std::vector<uint8_t> tag;
    const char* id;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"ISO-8859-1 with terminator", tag_of(3, {sized("TPE1", bytes(std::string("\0Villaz\xF3n\0", 10)))}),
       "TPE1", "Villaz\xC3\xB3n"},
      {"UTF-8 declared as ISO-8859-1", tag_of(3, {sized("TIT2", bytes(std::string("\0Caf\xC3\xA9", 6)))}),
       "TIT2", "Caf\xC3\xA9"},
      {"v2.4 UTF-8 values", tag_of(4, {sized("TPE1", bytes(std::string("\3A\0B\0", 5)))}), "TPE1", "A / B"},
      {"v2.4 Latin-1 values", tag_of(4, {sized("TPE1", bytes(std::string("\0A\0\xC9", 4)))}), "TPE1",
       "A / \xC3\x89"},
      {"v2.4 UTF-16 values, each with its mark",
       tag_of(4, {sized("TPE1", {1, 0xFF, 0xFE, 'A', 0, 0, 0, 0xFF, 0xFE, 'B', 0, 0, 0})}), "TPE1", "A / B"},
      {"v2.4 UTF-16 values, the second without a mark",
       tag_of(4, {sized("TPE1", {1, 0xFF, 0xFE, 'A', 0, 0, 0, 'B', 0})}), "TPE1", "A / B"},
      {"v2.4 UTF-16BE values", tag_of(4, {sized("TPE1", {2, 0, 'A', 0, 0, 0, 'B', 0, 0})}), "TPE1", "A / B"},
      {"UTF-16 emoji pair", tag_of(3, {sized("TIT2", {1, 0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE, 0, 0})}), "TIT2",
       "\xF0\x9F\x98\x80"},
      {"v2.4 frame unsynchronised, with data length",
       tag_of(4, {sized("TIT2", {0, 0, 0, 4, 0, 'x', 0xFF, 0x00, 'y'}, 0x03), sized("TPE1", {0, 'z'})}), "TIT2",
       "x\xC3\xBFy"},
      {"v2.4 grouping byte and data length",
       tag_of(4, {sized("TIT2", {7, dli[0], dli[1], dli[2], dli[3], 3, 'g', 'r', 'p'}, 0x41)}), "TIT2", "grp"},
      {"v2.4 tag flag unsynchronises every frame",
       tag_of(4, {sized("TIT2", {0, 0xFF, 0x00, 'a'}), sized("TPE1", {0, 'b'})}, 0x80), "TIT2", "\xC3\xBF" "a"},
      {"v2.3 whole tag unsynchronised",
       tag_of(3, {frame("TIT2", 4, {0, 'a', 0xFF, 0x00, 0xE0}), sized("TPE1", {0, 'b'})}, 0x80), "TPE1", "b"},
      {"v2.3 extended header", tag_of(3, {{0, 0, 0, 6, 0, 0, 0, 0, 0, 0}, sized("TIT2", {0, 'e'})}, 0x40), "TIT2",
       "e"},
      {"v2.4 extended header", tag_of(4, {{0, 0, 0, 6, 1, 0}, sized("TIT2", {0, 'e'})}, 0x40), "TIT2", "e"},
      {"v2.2 title", tag_of(2, {frame22("TAL", {0, 'a', 'l'}), frame22("TT2", {0, 't', 0})}), "TIT2", "t"},
      {"v2.2 artist in UTF-16", tag_of(2, {frame22("TP1", {1, 0xFF, 0xFE, 'p', 0})}), "TPE1", "p"},
      {"v2.2 year, track, genre", tag_of(2, {frame22("TYE", {0, '1', '9'}), frame22("TRK", {0, '5'})}), "TRCK",
       "5"},
      {"v2.3 compressed frame skipped",
       tag_of(3, {sized("TIT2", {0, 0, 0, 9, 'z', 'z'}, 0x80), sized("TIT2", {0, 'p'})}), "TIT2", "p"},
      {"v2.4 encrypted frame skipped", tag_of(4, {sized("TIT2", {1, 0, 'z'}, 0x04), sized("TIT2", {0, 'p'})}),
       "TIT2", "p"},
      {"v2.2 compressed tag", tag_of(2, {frame22("TT2", {0, 't'})}, 0x40), "TIT2", ""},
      {"zero-sized frame skipped, terminator dropped",
       tag_of(3, {frame("TIT2", 0, {}), sized("TIT2", {3, 'a', 'b', 0}), sized("TIT2", latin("c"))}), "TIT2",
       "ab"},
      {"unknown encoding", tag_of(3, {sized("TPE1", {9, 'x', 'y'})}), "TPE1", ""},
      {"encoding byte alone", tag_of(3, {sized("TALB", {0})}), "TALB", ""},
      {"UTF-16 without a mark: big-endian", tag_of(3, {sized("TIT2", {2, 0, 'h', 0, 'i'})}), "TIT2", "hi"},
      {"UTF-16 mark FF FE whatever the encoding byte says", tag_of(3, {sized("TIT2", {2, 0xFF, 0xFE, 'h', 0, 'i', 0})}),
       "TIT2", "hi"},
      {"v2.4 size read as syncsafe", tag_of(4, {frame("TIT2", 0x84, latin("abc")), sized("TPE1", latin("def"))}),
       "TPE1", "def"},
      {"frame filling the tag exactly", tag_of(3, {sized("TIT2", latin("exact"))}), "TIT2", "exact"},
      {"frame past the tag", tag_of(3, {frame("TIT2", 1000, latin("abc"))}), "TIT2", ""},
      {"earlier frame past the tag", tag_of(3, {frame("TPE1", 0xFFFFFFF0u, latin("abc")), sized("TIT2", latin("a"))}),
       "TIT2", ""},
      {"padding ends the walk", tag_of(3, {sized("TIT2", latin("x")), std::vector<uint8_t>(64, 0)}), "TPE1", ""},
      {"extended header past the tag", tag_of(4, {{0, 0, 1, 0}, sized("TIT2", {0, 'e'})}, 0x40), "TIT2", ""},
  };
  for (const Row& r : rows) EXPECT_EQ(text(r.tag, r.id), r.expected) << r.what;
  const std::vector<uint8_t> exact = tag_of(3, {sized("TIT2", latin("exact"))});
  EXPECT_EQ(find_id3_text(exact.data(), exact.size() - 1, "TIT2"), "");
  EXPECT_EQ(find_id3_text(exact.data(), 19, "TIT2"), "");
  EXPECT_EQ(find_id3_text(nullptr, 0, "TIT2"), "");
}

TEST(Id3Picture, VersionTwoPictureAndUnsynchronisedFrame) {
  // PIC: encoding, three-letter format, type, description, data.
  std::vector<uint8_t> tag = tag_of(2, {frame22("PIC", {0, 'P', 'N', 'G', 3, 'd', 0, 0x89, 'P'})});
  EXPECT_EQ(find_id3_picture(tag.data(), tag.size()), (std::vector<uint8_t>{0x89, 'P'}));
  tag = tag_of(4, {sized("APIC", {0, 0, 0, 7, 0, 'i', 0, 3, 0, 0xFF, 0x00, 0xD8, 0xFF}, 0x03)});
  EXPECT_EQ(find_id3_picture(tag.data(), tag.size()), (std::vector<uint8_t>{0xFF, 0xD8, 0xFF}));
}

TEST(Id3Text, YearFrameStandsInForTheDate) {
  varn::InputTrack t;
  std::vector<uint8_t> tag = tag_of(3, {sized("TYER", {0, '1', '9', '8', '7'}), sized("TRCK", {0, '4', '/', '9'})});
  varn::apply_id3_texts(varn::parse_id3(tag.data(), tag.size()), t);
  EXPECT_EQ(t.date, "1987");
  EXPECT_EQ(t.track_number, 4u);
  tag = tag_of(4, {sized("TYER", {0, '1', '9'}), sized("TDRC", {0, '2', '0'})});
  varn::apply_id3_texts(varn::parse_id3(tag.data(), tag.size()), t);
  EXPECT_EQ(t.date, "20");
}
