// ISRC normalisation and shape; barcodes with their check digits (UPC-A,
// EAN-13) and the verdict reported for each.
#include <gtest/gtest.h>

#include "metadata/codes.h"
#include "support/capture.h"

using namespace varn;

TEST(Isrc, NormalisationAndShape) {
  EXPECT_EQ(normalize_isrc("us-abc-24-00001"), "USABC2400001");
  EXPECT_EQ(normalize_isrc(" (US).AB/C_24-000\xC3\xA9" "01"), "USABC2400001");
  EXPECT_TRUE(isrc_shape_ok("USABC2400001"));
  EXPECT_TRUE(isrc_shape_ok("GBx1y9912345"));  // registrant may be lower case
  for (const char* bad : {"USAB1240001", "U1ABC2400001", "usABC2400001", "USABC24000A1", "USABC24000012"})
    EXPECT_FALSE(isrc_shape_ok(bad)) << bad;
}

TEST(Barcode, CheckDigitsAndReports) {
  const struct {
    const char *in, *out, *report;
  } cases[] = {
      {"036000291452", "036000291452", "(UPC-A) check digit OK"},
      {"0360-0029 145", "0036000291452", "check digit added"},
      {"036000291453", "036000291453", "check digit mismatch -- given 3, expected 2"},
      {"4-006381.333931", "4006381333931", "(EAN-13) check digit OK"},
      {"ABC 123", "ABC123", "not validated"},
      {"12345", "12345", "not validated"},
  };
  for (const auto& c : cases) {
    std::string out;
    const auto s = testsupport::capture([&] { out = normalize_barcode(c.in); });
    EXPECT_EQ(out, c.out);
    EXPECT_TRUE(testsupport::contains(s.err, c.report)) << c.in << ": " << s.err;
  }
}
