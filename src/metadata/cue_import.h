// Reading a CUE sheet: byte decoding (BOM, UTF-8 check, code page 936
// fallback) and the line parser.
#pragma once

#include <cstdint>
#include <string>

#include "metadata/cue_sheet.h"
#include "platform/error.h"

namespace varn {

// Largest CUE sheet read.
constexpr uint64_t kCueSheetLimit = 1048576;

// Reads and parses the sheet at `path` (UTF-8 name). The error names the
// sheet and why ("Cannot open file: <path>") when the file cannot be opened
// or read, or is no regular file of at most 1 MiB; the syntax itself never
// fails.
Result<CueSheet> import_cue_sheet(const std::string& path);

// UTF-8 validity as the importer checks it (no overlong or surrogate test).
bool cue_text_is_utf8(const std::string& bytes);

// CR bytes removed, BOM dropped, invalid UTF-8 converted from code page 936
// (`converted` set then, also when the conversion gives nothing).
std::string decode_cue_bytes(const std::string& bytes, bool& converted);

// Parses decoded text into `sheet` (fields appended/overwritten).
void parse_cue_text(const std::string& text, CueSheet& sheet);

}  // namespace varn
