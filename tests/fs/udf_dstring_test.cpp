// dstring encodings of the UDF volume name.
#include <gtest/gtest.h>

#include "fs/udf_dstring.h"

using varn::udf_dstring;

namespace {
std::vector<uint8_t> expect(std::vector<uint8_t> head, size_t n, uint8_t used) {
  head.resize(n, 0);
  head[n - 1] = used;
  return head;
}
}  // namespace

TEST(UdfDstring, AsciiAndEmpty) {
  EXPECT_EQ(udf_dstring("", 32), expect({8}, 32, 1));
  EXPECT_EQ(udf_dstring("AB c", 32), expect({8, 'A', 'B', ' ', 'c'}, 32, 5));
  std::vector<uint8_t> full = udf_dstring(std::string(40, 'x'), 32);
  EXPECT_EQ(full[0], 8);
  EXPECT_EQ(full[30], 'x');
  EXPECT_EQ(full[31], 31);
}

TEST(UdfDstring, NonAsciiBecomesUcs2) {
  // é (2 bytes), € (3 bytes), 😀 (4 bytes, beyond the basic plane), a stray
  // continuation byte, then a cut 3-byte sequence.
  std::string t = "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\x80" "A\xe2\x82";
  EXPECT_EQ(udf_dstring(t, 32),
            expect({16, 0x00, 0xE9, 0x20, 0xAC, 0x00, '?', 0x00, '?', 0x00, 'A', 0x00, '?'}, 32, 13));
  // An overlong 4-byte form of a basic-plane value is decoded.
  EXPECT_EQ(udf_dstring("\xf0\x80\x81\x81", 32), expect({16, 0x00, 0x41}, 32, 3));
  // Room for 14 characters in 32 bytes: at least three bytes stay free
  // before the length byte while a character is added.
  std::string many;
  for (int i = 0; i < 20; ++i) many += "\xc3\xa9";
  std::vector<uint8_t> d = udf_dstring(many, 32);
  EXPECT_EQ(d[0], 16);
  EXPECT_EQ(d[31], 29);
  EXPECT_EQ(d[27], 0x00);
  EXPECT_EQ(d[28], 0xE9);
  EXPECT_EQ(d[29], 0);
}
