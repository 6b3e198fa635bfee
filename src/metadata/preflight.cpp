// Metadata pre-flight checks.
#include "metadata/preflight.h"

#include <cstdio>
#include <map>

#include "metadata/codes.h"
#include "metadata/disc_date.h"

namespace varn {

namespace {

constexpr size_t kTitleLimit = 200;
constexpr uint32_t kReplacement = 0xFFFD;

// Next code point of UTF-8 text; a bad lead byte, a missing continuation
// byte or a sequence cut short decodes as U+FFFD.
uint32_t next_code_point(const std::string& s, size_t& i) {
  const unsigned char c = static_cast<unsigned char>(s[i++]);
  if (c < 0x80) return c;
  size_t follow;
  uint32_t cp;
  if ((c & 0xE0) == 0xC0) { follow = 1; cp = c & 0x1F; }
  else if ((c & 0xF0) == 0xE0) { follow = 2; cp = c & 0x0F; }
  else if ((c & 0xF8) == 0xF0) { follow = 3; cp = c & 0x07; }
  else return kReplacement;
  for (size_t k = 0; k < follow; ++k) {
    if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return kReplacement;
    cp = (cp << 6) | (static_cast<unsigned char>(s[i++]) & 0x3F);
  }
  return cp;
}

bool representable(uint32_t cp) {
  if (cp < 0x20) return false;
  if (cp >= 0x7F && cp <= 0x9F) return false;
  if (cp > 0xFFFF) return false;  // also covers U+1F000..U+1FAFF
  return cp != kReplacement;
}

std::string track_subject(int32_t number) { return "track " + std::to_string(number); }

// Decimal digits only, non-empty, within 32 bits.
bool read_positive_count(const std::string& text, uint32_t& value) {
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
    if (v > UINT32_MAX) return false;
  }
  value = static_cast<uint32_t>(v);
  return v >= 1;
}

bool four_digits(const std::string& s) {
  if (s.size() != 4) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

void add(std::vector<MetaIssue>& out, uint32_t severity, const std::string& subject, const std::string& message) {
  out.push_back(MetaIssue{severity, subject, message});
}

}  // namespace

bool find_unencodable(const std::string& text, std::string& code_point) {
  size_t i = 0;
  while (i < text.size()) {
    const uint32_t cp = next_code_point(text, i);
    if (!representable(cp)) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
      code_point = buf;
      return true;
    }
  }
  return false;
}

std::vector<MetaIssue> preflight_album(const Album& album, const std::vector<InputTrack>& tracks) {
  std::vector<MetaIssue> issues;

  // ISRCs: shape and uniqueness across the disc.
  std::map<std::string, int32_t> first_with_code;
  for (const auto& [position, isrc] : album.isrcs) {
    if (isrc.empty() || position < 0 || size_t(position) >= tracks.size()) continue;
    const int32_t number = position + 1;
    const std::string subject = track_subject(number);
    const std::string code = normalize_isrc(isrc);
    if (!isrc_shape_ok(code)) {
      add(issues, 2, subject,
          "invalid ISRC format: \"" + isrc +
              "\" (expected CC-XXX-YY-NNNNN, 12 chars: 2-letter country + 3 alnum registrant + 2-digit year + "
              "5-digit designation)");
      continue;
    }
    auto seen = first_with_code.find(code);
    if (seen != first_with_code.end()) {
      add(issues, 2, subject,
          "duplicate ISRC: " + code + " is the same as track " + std::to_string(seen->second) +
              " (every track on a disc must be unique, otherwise the pressing plant rejects it)");
    } else {
      first_with_code.emplace(code, number);
    }
  }

  // The track list and each track's title and artist.
  if (tracks.empty()) add(issues, 2, "album", "album has no tracks");
  for (size_t i = 0; i < tracks.size(); ++i) {
    const InputTrack& t = tracks[i];
    const std::string subject = track_subject(static_cast<int32_t>(i + 1));
    if (t.title.size() > kTitleLimit)
      add(issues, 1, subject,
          "title is too long (" + std::to_string(t.title.size()) +
              " bytes): the SACD text area stores it as a single entry and will truncate it");
    std::string cp;
    if (!t.title.empty() && find_unencodable(t.title, cp))
      add(issues, 2, subject,
          "title contains characters the encoder cannot represent (" + cp +
              ": control characters / emoji outside the BMP) -- they are silently written as '?' on disc; use "
              "encodable characters or Latin/CJK text");
    if (t.title.empty()) add(issues, 1, subject, "title is empty (players will show the file name or blank)");
    if (!t.artist.empty() && find_unencodable(t.artist, cp))
      add(issues, 2, subject,
          "artist contains characters the encoder cannot represent (" + cp +
              ": control characters / emoji outside the BMP) -- they are silently written as '?' on disc; use "
              "encodable characters or Latin/CJK text");
  }

  // Album title and artist; the disc falls back to the first track's tags
  // when the album names none, so those are what gets checked then.
  const std::string& title = !album.title.empty() || tracks.empty() ? album.title : tracks[0].album;
  const std::string& artist = !album.artist.empty() || tracks.empty() ? album.artist : tracks[0].artist;
  std::string cp;
  if (!title.empty() && find_unencodable(title, cp))
    add(issues, 2, "album", "album title contains characters the encoder cannot represent (" + cp + ")");
  if (title.empty()) add(issues, 1, "album", "album title is empty (the ISO volume label degrades to SACD_ISO)");
  if (!artist.empty() && find_unencodable(artist, cp))
    add(issues, 2, "album", "album artist contains characters the encoder cannot represent (" + cp + ")");

  // Year.
  if (!album.year.empty() && !four_digits(album.year))
    add(issues, 1, "album", "year is not 4 digits: \"" + album.year + "\" (the SACD text area stores 4 digits)");

  // The disc date: a date that is no real YYYY-MM-DD day is not used.
  if (!album.date.empty() && !is_iso_date(album.date))
    add(issues, 1, "disc",
        "date is not a valid YYYY-MM-DD date: \"" + album.date + "\" -- the disc date takes " +
            (album.year.empty() ? std::string("today's date")
                                : "the year " + album.year + " with today's month and day"));

  // Disc number and total.
  if (!album.disc_number.empty() || !album.disc_total.empty()) {
    uint32_t total = 0, number = 0;
    const bool total_ok = read_positive_count(album.disc_total, total);
    if (!album.disc_total.empty() && !total_ok)
      add(issues, 1, "disc", "total discs is not a positive integer: \"" + album.disc_total + "\"");
    const bool number_ok = read_positive_count(album.disc_number, number);
    if (!album.disc_number.empty() && !number_ok) {
      add(issues, 1, "disc", "disc number is not a positive integer: \"" + album.disc_number + "\"");
    } else if (number_ok && total_ok && number > total) {
      add(issues, 2, "disc",
          "disc number " + std::to_string(number) + " is greater than the total discs " + std::to_string(total));
    }
  }
  return issues;
}

int count_issues(const std::vector<MetaIssue>& issues, uint32_t severity) {
  int n = 0;
  for (const MetaIssue& i : issues)
    if (i.severity == severity) ++n;
  return n;
}

}  // namespace varn
