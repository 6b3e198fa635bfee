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

// The normalised code, and the verdict its report line gives.
TEST(Barcode, CheckDigitsAndReports) {
  const struct {
    const char* in;
    const char* out;
    const char* report;
  } cases[] = {
      {"036000291452", "036000291452", "(UPC-A) check digit OK"},
      {"0360-0029 145", "0036000291452", "left-padded with 0 to 12-digit UPC-A, check digit added"},
      {"036000291453", "036000291453", "check digit mismatch -- given 3, expected 2"},
      {"4-006381.333931", "4006381333931", "(EAN-13) check digit OK"},
      {"ABC 123", "ABC123", "contains non-digit characters, not validated"},
      {"--", "", "contains non-digit characters"},
      {"12345", "12345", "length 5 is not UPC-A(12)/EAN-13(13), not validated"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(normalize_barcode(c.in), c.out);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(c.report), std::string::npos) << c.in << ": " << err;
  }
}
