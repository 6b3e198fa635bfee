#include "sacd/text_encoding.h"

#include <cctype>

#include "platform/platform.h"

namespace varn {

namespace {

bool all_ascii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

enum class Script { Japanese, Korean, Other };

// Steps over UTF-8 lead bytes; only three-byte sequences yield a code
// point, which is all the kana and Hangul ranges need.
Script script_of(const std::string& s) {
  bool japanese = false, korean = false;
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      i += 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      if (i + 2 < n) {
        const uint32_t cp = (uint32_t(b & 0x0F) << 12) |
                            (uint32_t(static_cast<unsigned char>(s[i + 1]) & 0x3F) << 6) |
                            (uint32_t(static_cast<unsigned char>(s[i + 2]) & 0x3F));
        if (cp >= 0x3040 && cp <= 0x30FF) japanese = true;
        if (cp >= 0xAC00 && cp <= 0xD7AF) korean = true;
      }
      i += 3;
    } else if (b >= 0xF0 && b <= 0xF7) {
      i += 4;
    } else if (b >= 0xC0 && b <= 0xDF) {
      i += 2;
    } else {
      i += 1;
    }
  }
  if (japanese) return Script::Japanese;
  if (korean) return Script::Korean;
  return Script::Other;
}

// Typographic punctuation that Latin text often carries but ISO-8859-1
// lacks, written with its plain look-alike: dashes, curly quotes, the
// ellipsis.
std::string fold_typographic(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    if (b == 0xE2 && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x80) {
      const unsigned char c = static_cast<unsigned char>(s[i + 2]);
      const char* plain = nullptr;
      if (c >= 0x90 && c <= 0x95) plain = "-";        // U+2010..U+2015
      else if (c >= 0x98 && c <= 0x9B) plain = "'";   // U+2018..U+201B
      else if (c >= 0x9C && c <= 0x9F) plain = "\"";  // U+201C..U+201F
      else if (c == 0xA6) plain = "...";              // U+2026
      if (plain) {
        out += plain;
        i += 2;
        continue;
      }
    }
    out += char(b);
  }
  return out;
}

// True when every character of the UTF-8 text lies in U+0000..U+00FF, so
// that ISO-8859-1 holds it unchanged.
bool fits_latin1(const std::string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) continue;
    if ((b != 0xC2 && b != 0xC3) || i + 1 >= s.size() ||
        (static_cast<unsigned char>(s[i + 1]) & 0xC0) != 0x80)
      return false;
    ++i;
  }
  return true;
}

bool is_cont(const std::string& s, size_t i) {
  return i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80;
}

// Valid UTF-8 sequences are kept; every invalid or cut sequence becomes
// U+FFFD, so that a damaged tag still yields a text every converter takes.
std::string sanitize_utf8(const std::string& s) {
  static const char kReplacement[] = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    size_t len = 0;
    if (b < 0x80) {
      len = 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      if (is_cont(s, i + 1)) len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      if (is_cont(s, i + 1) && is_cont(s, i + 2)) {
        const unsigned char b1 = static_cast<unsigned char>(s[i + 1]);
        if (!(b == 0xE0 && b1 < 0xA0) && !(b == 0xED && b1 >= 0xA0)) len = 3;
      }
    } else if (b >= 0xF0 && b <= 0xF4) {
      if (is_cont(s, i + 1) && is_cont(s, i + 2) && is_cont(s, i + 3)) {
        const unsigned char b1 = static_cast<unsigned char>(s[i + 1]);
        if (!(b == 0xF0 && b1 < 0x90) && !(b == 0xF4 && b1 >= 0x90)) len = 4;
      }
    }
    if (len == 0) {
      out += kReplacement;
      i += 1;
    } else {
      out.append(s, i, len);
      i += len;
    }
  }
  return out;
}

const char* iconv_name_of(uint32_t code_page) {
  switch (code_page) {
    case 65001: return "UTF-8";
    case 936: return "CP936";
    case 932: return "CP932";
    case 949: return "CP949";
    case 950: return "CP950";
    case 28591: return "ISO-8859-1";
    case 1200: return "UTF-16LE";
    case 20127: return "ASCII";
    default: return nullptr;
  }
}

const char* charset_name_of_code(uint8_t code) {
  switch (code) {
    case 2: return "ISO-8859-1";
    case 3: return "SHIFT_JIS";
    case 4: return "KSC5601";
    case 5: return "GBK";
    case 6: return "BIG5";
    case 7: return "ISO-8859-1";
    default: return nullptr;
  }
}

}  // namespace

uint8_t choose_charset(const std::vector<std::string>& texts) {
  unsigned japanese = 0, korean = 0, other = 0;
  bool any = false;
  bool latin1 = true;  // every non-ASCII text fits ISO-8859-1
  for (const std::string& t : texts) {
    if (all_ascii(t)) continue;
    any = true;
    if (!fits_latin1(fold_typographic(t))) latin1 = false;
    switch (script_of(t)) {
      case Script::Japanese: ++japanese; break;
      case Script::Korean: ++korean; break;
      case Script::Other: ++other; break;
    }
  }
  if (!any) return 0;
  // Accented Latin text: GBK lacks most of these letters.
  if (latin1 && japanese == 0 && korean == 0) return 2;
  if (other > japanese && other > korean) return 5;
  if (korean > japanese) return 4;
  return 3;
}

std::vector<std::string> disc_charset_texts(const std::string& album, const std::string& artist,
                                            const std::vector<InputTrack>& tracks,
                                            const std::string& publisher) {
  std::vector<std::string> texts;
  texts.reserve(2 + 2 * tracks.size());
  texts.push_back(album);
  texts.push_back(artist);
  for (const InputTrack& t : tracks) {
    texts.push_back(t.title);
    texts.push_back(t.artist);
  }
  if (!publisher.empty()) texts.push_back(publisher);
  for (const InputTrack& t : tracks)
    if (!t.composer.empty()) texts.push_back(t.composer);
  return texts;
}

std::string encode_text_as(uint8_t code, const std::string& text) {
  if (code == 1) {
    std::string out = text;
    for (char& c : out)
      if (static_cast<unsigned char>(c) >= 0x80) c = '?';
    return out;
  }
  const char* name = charset_name_of_code(code);
  if (!name) return text;
  if (code == 2 || code == 7) return convert_disc_text(fold_typographic(text), name);
  return convert_disc_text(text, name);
}

uint32_t code_page_of(const std::string& charset_name) {
  std::string n;
  for (char c : charset_name) n += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (n == "UTF-8" || n == "UTF8") return 65001;
  if (n == "GBK" || n == "GB2312" || n == "GB18030" || n == "CP936") return 936;
  if (n == "SHIFT_JIS" || n == "SHIFT-JIS" || n == "SJIS" || n == "CP932") return 932;
  if (n == "KSC5601" || n == "KSC_5601" || n == "EUC-KR" || n == "CP949") return 949;
  if (n == "BIG5" || n == "BIG-5" || n == "CP950") return 950;
  if (n == "ISO-8859-1" || n == "ISO8859-1" || n == "LATIN1") return 28591;
  if (n == "UTF-16LE") return 1200;
  if (n == "US-ASCII" || n == "ASCII") return 20127;
  return 0;
}

std::string convert_disc_text(const std::string& text, const std::string& charset_name) {
  if (all_ascii(text)) return text;
  const uint32_t from = code_page_of("UTF-8");
  const uint32_t to = code_page_of(charset_name);
  if (from == 0 || to == 0) return text;
  const char* target = iconv_name_of(to);
  if (!target) return text;
  const std::string head = sanitize_utf8(text.substr(0, 511));
  std::string out;
  if (!platform_convert(head, "UTF-8", target, out)) return text;
  if (out.empty() || out.size() > 1024) return text;
  return out;
}

size_t encoded_char_length(uint8_t code, const std::string& bytes, size_t pos) {
  if (pos >= bytes.size()) return 0;
  const unsigned char b = static_cast<unsigned char>(bytes[pos]);
  size_t len = 1;
  switch (code) {
    case 0:
      if (b >= 0xC0 && b <= 0xDF) len = 2;
      else if (b >= 0xE0 && b <= 0xEF) len = 3;
      else if (b >= 0xF0 && b <= 0xF7) len = 4;
      break;
    case 3:
      if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) len = 2;
      break;
    case 4:
    case 5:
    case 6:
      if (b >= 0x81 && b <= 0xFE) len = 2;
      break;
    default:
      break;
  }
  const size_t left = bytes.size() - pos;
  return len < left ? len : left;
}

std::string cut_encoded(uint8_t code, const std::string& bytes, size_t max_bytes) {
  if (bytes.size() <= max_bytes) return bytes;
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t len = encoded_char_length(code, bytes, pos);
    if (pos + len > max_bytes) break;
    pos += len;
  }
  return bytes.substr(0, pos);
}

}  // namespace varn
