#pragma once

#include <string>

namespace varn {

// ISRC normalisation: bytes >= 0x80 and the separators " ()-./_" dropped,
// other ASCII upper-cased.
std::string normalize_isrc(const std::string& text);

// ISRC shape: 12 bytes, 2 letters A-Z, 3 alphanumerics, 7 digits.
bool isrc_shape_ok(const std::string& code);

// Barcode normalisation with its report line on standard error.
std::string normalize_barcode(const std::string& value);

}  // namespace varn
