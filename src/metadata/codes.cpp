#include "metadata/codes.h"
#include "platform/report.h"

#include <cstdio>
#include <cstring>

namespace varn {

std::string normalize_isrc(const std::string& text) {
  std::string out;
  for (unsigned char ch : text) {
    if (ch >= 0x80 || (ch != 0 && std::strchr(" ()-./_", ch) != nullptr)) continue;
    out.push_back((ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : static_cast<char>(ch));
  }
  return out;
}

static bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
static bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool isrc_shape_ok(const std::string& code) {
  if (code.size() != 12) return false;
  if (!is_upper(code[0]) || !is_upper(code[1])) return false;
  for (int i = 2; i < 5; ++i)
    if (!is_digit(code[i]) && !is_upper(code[i]) && !(code[i] >= 'a' && code[i] <= 'z')) return false;
  for (int i = 5; i < 12; ++i)
    if (!is_digit(code[i])) return false;
  return true;
}

// GS1 modulo-10 check digit over `digits`; the digit just before the check
// digit (the last one given) has weight 3.
static int gs1_check_digit(const std::string& digits) {
  int sum = 0;
  const size_t n = digits.size();
  for (size_t i = 0; i < n; ++i) {
    int d = digits[i] - '0';
    sum += ((n - i) % 2 == 1) ? 3 * d : d;
  }
  return (10 - sum % 10) % 10;
}

std::string normalize_barcode(const std::string& value) {
  std::string compact;
  for (char c : value)
    if (c != ' ' && c != '-' && c != '.') compact.push_back(c);
  bool digits_only = !compact.empty();
  for (char c : compact)
    if (!is_digit(c)) digits_only = false;
  if (!digits_only) {
    report_error("  [Barcode] note: '%s' contains non-digit characters, not validated (written as-is)\n",
                 value.c_str());
    return compact;
  }
  if (compact.size() == 11) {
    char result[32];
    std::snprintf(result, sizeof result, "0%s%d", compact.c_str(), gs1_check_digit(compact));
    report_error("  [Barcode] %s -> left-padded with 0 to 12-digit UPC-A, check digit added: %s\n",
                 compact.c_str(), result);
    return result;
  }
  if (compact.size() == 12 || compact.size() == 13) {
    int given = compact.back() - '0';
    int expected = gs1_check_digit(compact.substr(0, compact.size() - 1));
    if (given != expected) {
      report_error("  [Barcode] warning: %s check digit mismatch -- given %d, expected %d (informational only, written as-is)\n",
                   compact.c_str(), given, expected);
    } else {
      report_error("  [Barcode] %s (%s) check digit OK \xE2\x9C\x93\n", compact.c_str(),
                   compact.size() == 12 ? "UPC-A" : "EAN-13");
    }
    return compact;
  }
  report_error("  [Barcode] note: length %zu is not UPC-A(12)/EAN-13(13), not validated\n", compact.size());
  return compact;
}

}  // namespace varn
