// CUE sheet import.
#include "metadata/cue_import.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/id3.h"
#include "platform/platform.h"
#include "platform/small_file.h"

namespace varn {

namespace {

std::string upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && is_blank(s[b])) ++b;
  while (e > b && is_blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Value of a line after its first `skip` characters: blanks trimmed, then
// the text between the first two double quotes when it starts with one.
std::string read_value(const std::string& line, size_t skip) {
  if (skip >= line.size()) return std::string();
  std::string v = trim(line.substr(skip));
  if (!v.empty() && v[0] == '"') {
    const size_t close = v.find('"', 1);
    return close == std::string::npos ? v.substr(1) : v.substr(1, close - 1);
  }
  return v;
}

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const size_t b = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > b) out.push_back(line.substr(b, i - b));
  }
  return out;
}

// Leading decimal integer (optional sign), clamped to 32 bits; false when
// there is no digit.
bool read_int(const char*& p, int32_t& value) {
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return false;
  int64_t v = 0;
  while (*p >= '0' && *p <= '9') {
    if (v < INT64_C(10000000000)) v = v * 10 + (*p - '0');
    ++p;
  }
  if (negative) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  value = static_cast<int32_t>(v);
  return true;
}

int32_t word_number(const std::vector<std::string>& w, size_t index, int32_t fallback) {
  if (index >= w.size()) return fallback;
  const char* p = w[index].c_str();
  int32_t v = 0;
  return read_int(p, v) ? v : fallback;
}

// "mm:ss:ff"; returns how many fields were read (as "%d:%d:%d" would).
int read_time(const std::string& text, int32_t out[3]) {
  const char* p = text.c_str();
  int fields = 0;
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      if (*p != ':') break;
      ++p;
    }
    if (!read_int(p, out[i])) break;
    ++fields;
  }
  return fields;
}

void set_index(const std::string& time, int32_t index[3]) {
  int32_t t[3] = {0, 0, 0};
  if (read_time(time, t) >= 2) {
    index[0] = t[0];
    index[1] = t[1];
    index[2] = t[2];
  }
}

// Code page 936 to UTF-8. A text the converter refuses as a whole is
// converted line by line, lines that still fail staying as they are.
std::string convert_936(const std::string& bytes) {
  std::string out;
  if (platform_convert(bytes, "CP936", "UTF-8", out) && !out.empty()) return out;
  out.clear();
  bool any = false;
  size_t pos = 0;
  while (pos <= bytes.size()) {
    size_t nl = bytes.find('\n', pos);
    if (nl == std::string::npos) nl = bytes.size();
    const std::string line = bytes.substr(pos, nl - pos);
    std::string converted;
    if (!line.empty() && platform_convert(line, "CP936", "UTF-8", converted) && !converted.empty()) {
      out += converted;
      any = true;
    } else {
      out += line;
    }
    if (nl < bytes.size()) out.push_back('\n');
    pos = nl + 1;
  }
  return any ? out : bytes;
}

}  // namespace

bool cue_text_is_utf8(const std::string& bytes) {
  const size_t n = bytes.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t follow;
    if (c < 0x80) follow = 0;
    else if (c >= 0xC2 && c <= 0xDF) follow = 1;
    else if (c >= 0xE0 && c <= 0xEF) follow = 2;
    else if (c >= 0xF0 && c <= 0xF4) follow = 3;
    else return false;  // C0, C1, F5..FF or a stray continuation byte
    if (follow > n - i - 1) return false;
    for (size_t k = 1; k <= follow; ++k)
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    i += follow + 1;
  }
  return true;
}

std::string decode_cue_bytes(const std::string& bytes, bool& converted) {
  converted = false;
  std::string text;
  // A byte-order mark of 16-bit units (as some rippers save sheets): the
  // units are decoded before anything else looks at the bytes.
  const auto* u = reinterpret_cast<const uint8_t*>(bytes.data());
  const bool utf16 = bytes.size() >= 2 && ((u[0] == 0xFF && u[1] == 0xFE) || (u[0] == 0xFE && u[1] == 0xFF));
  const std::string decoded = utf16 ? utf16_to_utf8_keep_zeros(u, bytes.size(), false) : std::string();
  const std::string& source = utf16 ? decoded : bytes;
  text.reserve(source.size());
  for (char c : source)
    if (c != '\r') text.push_back(c);
  if (utf16) return text;
  if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
      static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF)
    return text.substr(3);
  if (cue_text_is_utf8(text)) return text;
  converted = true;
  return convert_936(text);
}

void parse_cue_text(const std::string& text, CueSheet& sheet) {
  CueTrack current;
  bool in_track = false;
  std::string file_name, file_type;

  auto flush = [&] {
    if (in_track && current.number >= 1) sheet.tracks.push_back(current);
  };

  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    const std::string line = trim(text.substr(pos, nl - pos));
    pos = nl + 1;
    if (line.empty() || line[0] == ';' || line.rfind("//", 0) == 0) continue;

    size_t kw_end = 0;
    while (kw_end < line.size() && line[kw_end] != ' ' && line[kw_end] != '\t') ++kw_end;
    const std::string keyword = upper(line.substr(0, kw_end));

    if (keyword == "REM") {
      const std::string value = read_value(line, 4);
      const size_t space = value.find(' ');
      const std::string sub = upper(value.substr(0, space));
      const std::string sub_value = space == std::string::npos ? std::string() : read_value(value.substr(space + 1), 0);
      if (sub == "GENRE") sheet.genre = sub_value;
      else if (sub == "DATE") sheet.date = sub_value;
      else if (sub == "COMMENT") sheet.comment = sub_value;
      else if (sub == "CATALOG") sheet.catalog = sub_value;
    } else if (keyword == "CATALOG") {
      sheet.catalog = read_value(line, 7);
    } else if (keyword == "TITLE") {
      (in_track ? current.title : sheet.title) = read_value(line, 5);
    } else if (keyword == "PERFORMER") {
      (in_track ? current.performer : sheet.performer) = read_value(line, 9);
    } else if (keyword == "SONGWRITER") {
      (in_track ? current.songwriter : sheet.songwriter) = read_value(line, 10);
    } else if (keyword == "ISRC") {
      if (in_track) current.isrc = read_value(line, 4);
    } else if (keyword == "FILE") {
      flush();
      current = CueTrack();
      in_track = false;
      file_name = read_value(line, 4);
      const size_t last_space = line.rfind(' ');
      file_type = last_space == std::string::npos ? std::string() : upper(line.substr(last_space + 1));
      // An unquoted name ends before the type word.
      const std::string rest = trim(line.substr(4));
      if (!rest.empty() && rest[0] != '"') {
        const size_t space = rest.rfind(' ');
        if (space != std::string::npos) file_name = trim(rest.substr(0, space));
      }
    } else if (keyword == "TRACK") {
      flush();
      current = CueTrack();
      const std::vector<std::string> w = words(line);
      current.number = word_number(w, 1, 0);
      const std::string kind = w.size() > 2 ? upper(w[2]) : std::string();
      current.audio = kind.empty() || kind == "AUDIO";
      current.file_name = file_name;
      current.file_type = file_type;
      in_track = true;
    } else if (keyword == "INDEX") {
      if (!in_track) continue;
      const std::vector<std::string> w = words(line);
      const int32_t number = word_number(w, 1, -1);
      const std::string time = w.size() > 2 ? w[2] : std::string();
      if (number == 1) {
        set_index(time, current.index1);
      } else if (number == 0) {
        current.has_index0 = true;
        set_index(time, current.index0);
      }
    }
    // FLAGS, PREGAP, POSTGAP and anything else: ignored.
  }
  flush();
}

Result<CueSheet> import_cue_sheet(const std::string& path) {
  std::string name = path;
#ifdef _WIN32
  if (name.rfind("//", 0) == 0)
    for (char& c : name)
      if (c == '/') c = '\\';
#endif
  // A sheet is a small text file: a device or a FIFO named by mistake
  // must neither block the run nor be read without end.
  SmallFile file;
  if (!read_small_file(name, kCueSheetLimit, file) && file.error != SmallFileError::Empty) {
    const std::string why = file.error == SmallFileError::CannotOpen
                                ? "Cannot open file: " + path
                                : "Cannot use file: " + path + ": " + file.why;
    return make_error("Failed to parse CUE file '%s': %s\n", path.c_str(), why.c_str());
  }
  CueSheet sheet;
  bool converted = false;
  const std::string text = decode_cue_bytes(file.bytes, converted);
  sheet.converted = converted;
  parse_cue_text(text, sheet);
  return sheet;
}

}  // namespace varn
