// ID3v2 lookups and the UTF-16 conversion, against hand-made tags in the
// forms other taggers write and tags from dsdgen's builder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/id3.h"
#include "audio/reader_common.h"
#include "dsdgen/dsdgen.h"

using varn::find_id3_picture;
using varn::find_id3_text;
using varn::utf16_to_utf8;
using Bytes = std::vector<uint8_t>;

namespace {

std::string text(const Bytes& tag, const char* id) { return find_id3_text(tag.data(), tag.size(), id); }
Bytes picture(const Bytes& tag) { return find_id3_picture(tag.data(), tag.size()); }

// A tag of the given version and header flags holding the frames as given.
Bytes tag_of(int version, const std::vector<Bytes>& frames, uint8_t flags = 0) {
  Bytes t = {'I', 'D', '3', uint8_t(version), 0, flags, 0, 0, 0, 0};
  for (const auto& f : frames) t.insert(t.end(), f.begin(), f.end());
  for (int i = 0; i < 4; ++i) t[6 + i] = uint8_t(((t.size() - 10) >> (7 * (3 - i))) & 0x7F);
  return t;
}

// Head bytes followed by a body.
Bytes join(std::initializer_list<uint8_t> head, const Bytes& body) {
  Bytes f(head.size() + body.size());
  std::copy(body.begin(), body.end(), std::copy(head.begin(), head.end(), f.begin()));
  return f;
}

Bytes frame(const char* id, uint32_t size_field, const Bytes& body, uint8_t flags = 0) {
  return join({uint8_t(id[0]), uint8_t(id[1]), uint8_t(id[2]), uint8_t(id[3]), uint8_t(size_field >> 24),
               uint8_t(size_field >> 16), uint8_t(size_field >> 8), uint8_t(size_field), 0, flags},
              body);
}
Bytes sized(const char* id, const Bytes& body, uint8_t flags = 0) { return frame(id, uint32_t(body.size()), body, flags); }

// An ID3v2.2 frame: three-letter id, 24-bit size, no flags.
Bytes frame22(const char* id, const Bytes& body) {
  return join({uint8_t(id[0]), uint8_t(id[1]), uint8_t(id[2]), uint8_t(body.size() >> 16), uint8_t(body.size() >> 8),
               uint8_t(body.size())},
              body);
}

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes latin(const std::string& s) { return join({0}, bytes(s)); }

}  // namespace

TEST(Utf16ToUtf8, MarksOrderZerosAndSurrogates) {
  const uint8_t le_bom[] = {0xFF, 0xFE, 'A', 0, 0xE9, 0, 0, 0, 'b', 0, 'x'};
  EXPECT_EQ(utf16_to_utf8(le_bom, sizeof le_bom, true), "A\xC3\xA9");  // stops at the zero unit
  EXPECT_EQ(varn::utf16_to_utf8_keep_zeros(le_bom, sizeof le_bom, true), std::string("A\xC3\xA9\0b", 5));
  const uint8_t be_bom[] = {0xFE, 0xFF, 0, 'A', 0x20, 0xAC};
  EXPECT_EQ(utf16_to_utf8(be_bom, sizeof be_bom, false), "A\xE2\x82\xAC");
  const uint8_t bare[] = {0, 'x', 0, 'y'};
  EXPECT_EQ(utf16_to_utf8(bare, sizeof bare, false), "xy");
  EXPECT_EQ(utf16_to_utf8(bare, sizeof bare, true), std::string("\xE7\xA0\x80\xE7\xA4\x80"));
  EXPECT_EQ(utf16_to_utf8(le_bom, 2), "");
  // U+1F600 as D83D DE00: one four-byte sequence; a lone half is U+FFFD.
  const uint8_t pairs[] = {0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE, 0x00, 0xDE, 'a', 0, 0xFF, 0x07, 0x3D, 0xD8};
  EXPECT_EQ(utf16_to_utf8(pairs, sizeof pairs), "\xF0\x9F\x98\x80\xEF\xBF\xBD" "a\xDF\xBF\xEF\xBF\xBD");
}

// Hand-built tags, each row a whole tag, the frame looked up and the UTF-8
// text expected: the forms other taggers write, and the walk's limits.
TEST(Id3Text, HandBuiltTags) {
  const Bytes dli = {0, 0, 0, 4};  // data-length indicator
  struct Row {
    const char* what;
    Bytes tag;
    const char* id;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"ISO-8859-1 with terminator", tag_of(3, {sized("TPE1", bytes(std::string("\0Villaz\xF3n\0", 10)))}),
       "TPE1", "Villaz\xC3\xB3n"},
      {"UTF-8 declared as ISO-8859-1", tag_of(3, {sized("TIT2", bytes(std::string("\0Caf\xC3\xA9", 6)))}),
       "TIT2", "Caf\xC3\xA9"},
      {"v2.4 UTF-8 values", tag_of(4, {sized("TPE1", bytes(std::string("\3A\0B\0", 5)))}), "TPE1", "A / B"},
      {"v2.4 UTF-16 values, each with its mark",
       tag_of(4, {sized("TPE1", {1, 0xFF, 0xFE, 'A', 0, 0, 0, 0xFF, 0xFE, 'B', 0, 0, 0})}), "TPE1", "A / B"},
      {"v2.4 UTF-16 values, the second without a mark",
       tag_of(4, {sized("TPE1", {1, 0xFF, 0xFE, 'A', 0, 0, 0, 'B', 0})}), "TPE1", "A / B"},
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
      {"v2.4 extended header", tag_of(4, {{0, 0, 0, 6, 1, 0}, sized("TIT2", {0, 'e'})}, 0x40), "TIT2", "e"},
      {"v2.2 title", tag_of(2, {frame22("TAL", {0, 'a', 'l'}), frame22("TT2", {0, 't', 0})}), "TIT2", "t"},
      {"v2.2 year, track, genre", tag_of(2, {frame22("TYE", {0, '1', '9'}), frame22("TRK", {0, '5'})}), "TRCK",
       "5"},
      {"v2.3 compressed frame skipped",
       tag_of(3, {sized("TIT2", {0, 0, 0, 9, 'z', 'z'}, 0x80), sized("TIT2", {0, 'p'})}), "TIT2", "p"},
      {"v2.2 compressed tag", tag_of(2, {frame22("TT2", {0, 't'})}, 0x40), "TIT2", ""},
      {"zero-sized frame skipped, terminator dropped",
       tag_of(3, {frame("TIT2", 0, {}), sized("TIT2", {3, 'a', 'b', 0}), sized("TIT2", latin("c"))}), "TIT2",
       "ab"},
      {"unknown encoding", tag_of(3, {sized("TPE1", {9, 'x', 'y'})}), "TPE1", ""},
      {"UTF-16 without a mark: big-endian", tag_of(3, {sized("TIT2", {2, 0, 'h', 0, 'i'})}), "TIT2", "hi"},
      {"v2.4 size read as syncsafe", tag_of(4, {frame("TIT2", 0x84, latin("abc")), sized("TPE1", latin("def"))}),
       "TPE1", "def"},
      {"frame filling the tag exactly", tag_of(3, {sized("TIT2", latin("exact"))}), "TIT2", "exact"},
      {"frame past the tag", tag_of(3, {frame("TIT2", 1000, latin("abc"))}), "TIT2", ""},
      {"earlier frame past the tag", tag_of(3, {frame("TPE1", 0xFFFFFFF0u, latin("abc")), sized("TIT2", latin("a"))}),
       "TIT2", ""},
      {"padding ends the walk", tag_of(3, {sized("TIT2", latin("x")), Bytes(64, 0)}), "TPE1", ""},
      {"extended header past the tag", tag_of(4, {{0, 0, 1, 0}, sized("TIT2", {0, 'e'})}, 0x40), "TIT2", ""},
  };
  for (const Row& r : rows) EXPECT_EQ(text(r.tag, r.id), r.expected) << r.what;
  const Bytes exact = tag_of(3, {sized("TIT2", latin("exact"))});
  EXPECT_EQ(find_id3_text(exact.data(), exact.size() - 1, "TIT2"), "");
  EXPECT_EQ(find_id3_text(exact.data(), 19, "TIT2"), "");
  EXPECT_EQ(find_id3_text(nullptr, 0, "TIT2"), "");
}

// Which picture a tag gives: the front cover over earlier pictures, else
// the first; fields running past the frame are skipped.
TEST(Id3Picture, WhichPictureIsTaken) {
  dsdgen::Id3Tags t;
  t.version = 3;
  t.picture = {1, 2, 3};
  t.picture_type = 0;
  t.picture_first = true;
  t.title = "After the picture";
  dsdgen::Id3Picture front;
  front.data = {9, 8, 7, 6};
  front.type = 3;  // front cover
  t.more_pictures.push_back(front);
  EXPECT_EQ(picture(dsdgen::build_id3(t)), front.data);
  EXPECT_EQ(text(dsdgen::build_id3(t), "TIT2"), "After the picture");
  t.more_pictures[0].type = 4;
  EXPECT_EQ(picture(dsdgen::build_id3(t)), (Bytes{1, 2, 3}));

  const Bytes good = {0, 0, 0, 0, 0x42};
  const struct {
    const char* what;
    Bytes tag, expected;
  } rows[] = {
      {"UTF-16 description ends at an even zero pair",
       tag_of(3, {sized("APIC", {1, 'i', '/', 'p', 0, 3, 0xFF, 0xFE, 'd', 0, 0, 0, 0xAA, 0xBB})}), {0xAA, 0xBB}},
      {"odd zero pair is no end", tag_of(3, {sized("APIC", {1, 'i', 0, 3, 'd', 0, 0, 'x', 0, 0, 0xCC})}), {0xCC}},
      {"MIME and description never end",
       tag_of(3, {sized("APIC", {0, 'i', '/', 'p', 'n', 'g'}), sized("APIC", {0, 'i', 0, 3, 'd', 'e', 's', 'c'}),
                  frame("APIC", 4, {0, 0, 0, 0}), sized("APIC", good)}),
       {0x42}},
      {"frame past the tag", tag_of(3, {sized("APIC", good), frame("APIC", 5000, {0, 0, 3, 0, 1})}), {0x42}},
      {"earlier frame past the tag", tag_of(3, {frame("TIT2", 0xFFFFFFFFu, latin("x")), sized("APIC", good)}), {}},
      {"v2.2 PIC", tag_of(2, {frame22("PIC", {0, 'P', 'N', 'G', 3, 'd', 0, 0x89, 'P'})}), {0x89, 'P'}},
      {"v2.4 unsynchronised with data length",
       tag_of(4, {sized("APIC", {0, 0, 0, 7, 0, 'i', 0, 3, 0, 0xFF, 0x00, 0xD8, 0xFF}, 0x03)}), {0xFF, 0xD8, 0xFF}},
  };
  for (const auto& r : rows) EXPECT_EQ(picture(r.tag), r.expected) << r.what;
}

TEST(Id3Text, YearFrameStandsInForTheDate) {
  varn::InputTrack t;
  Bytes tag = tag_of(3, {sized("TYER", latin("1987")), sized("TRCK", latin("4/9"))});
  varn::apply_id3_texts(varn::parse_id3(tag.data(), tag.size()), t);
  EXPECT_EQ(t.date, "1987");
  EXPECT_EQ(t.track_number, 4u);
  tag = tag_of(4, {sized("TYER", latin("19")), sized("TDRC", latin("20"))});
  varn::apply_id3_texts(varn::parse_id3(tag.data(), tag.size()), t);
  EXPECT_EQ(t.date, "20");
}
