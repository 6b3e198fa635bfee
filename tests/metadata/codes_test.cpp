// ISRC normalisation and shape, barcode normalisation with its report lines.
#include <gtest/gtest.h>

#include "metadata/codes.h"

using namespace varn;

TEST(Isrc, NormalisationDropsSeparatorsAndHighBytes) {
  EXPECT_EQ(normalize_isrc("us-abc-24-00001"), "USABC2400001");
  EXPECT_EQ(normalize_isrc(" (US).AB/C_24-000\xC3\xA9" "01"), "USABC2400001");
  EXPECT_EQ(normalize_isrc("US-AB1-24-0001"), "USAB1240001");
}

TEST(Isrc, ShapeRule) {
  EXPECT_TRUE(isrc_shape_ok("USABC2400001"));
  EXPECT_TRUE(isrc_shape_ok("GBx1y9912345"));  // registrant may be lower case
  EXPECT_FALSE(isrc_shape_ok("USAB1240001"));  // 11 characters
  EXPECT_FALSE(isrc_shape_ok("U1ABC2400001"));
  EXPECT_FALSE(isrc_shape_ok("usABC2400001"));
  EXPECT_FALSE(isrc_shape_ok("USABC24000A1"));
  EXPECT_FALSE(isrc_shape_ok("USABC24000012"));
}

namespace {
std::string barcode(const std::string& in, std::string& err) {
  testing::internal::CaptureStderr();
  std::string out = normalize_barcode(in);
  err = testing::internal::GetCapturedStderr();
  return out;
}
}  // namespace

TEST(Barcode, CheckDigitsAndReports) {
  std::string err;
  EXPECT_EQ(barcode("036000291452", err), "036000291452");
  EXPECT_EQ(err, "  [Barcode] 036000291452 (UPC-A) check digit OK \xE2\x9C\x93\n");
  EXPECT_EQ(barcode("0360-0029 145", err), "0036000291452");
  EXPECT_EQ(err,
            "  [Barcode] 03600029145 -> left-padded with 0 to 12-digit UPC-A, check digit added: "
            "0036000291452\n");
  EXPECT_EQ(barcode("036000291453", err), "036000291453");
  EXPECT_EQ(err,
            "  [Barcode] warning: 036000291453 check digit mismatch -- given 3, expected 2 "
            "(informational only, written as-is)\n");
  EXPECT_EQ(barcode("4-006381.333931", err), "4006381333931");
  EXPECT_EQ(err, "  [Barcode] 4006381333931 (EAN-13) check digit OK \xE2\x9C\x93\n");
  EXPECT_EQ(barcode("ABC 123", err), "ABC123");
  EXPECT_EQ(err, "  [Barcode] note: 'ABC 123' contains non-digit characters, not validated (written as-is)\n");
  EXPECT_EQ(barcode("--", err), "");
  EXPECT_NE(err.find("contains non-digit characters"), std::string::npos);
  EXPECT_EQ(barcode("12345", err), "12345");
  EXPECT_EQ(err, "  [Barcode] note: length 5 is not UPC-A(12)/EAN-13(13), not validated\n");
}
