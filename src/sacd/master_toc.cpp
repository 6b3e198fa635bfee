#include "sacd/master_toc.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "metadata/disc_date.h"
#include "sacd/genre.h"
#include "sacd/text_encoding.h"

namespace varn {

namespace {

const char kPublisher[] = "VarnEngine";
const char kEngineVersion[] = "6.76.9";

// Year of the year text as a standard string-to-int conversion reads it
// (leading blanks, sign, digits); false when it holds no number in range.
bool read_year(const std::string& text, long& year) {
  const char* s = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s, &end, 10);
  if (end == s || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  year = v;
  return true;
}

// A disc count as the pre-flight reads it: digits only, at least 1; 0 when
// it is not one (or too large for the 16-bit fields).
uint32_t disc_count(const std::string& text) {
  if (text.empty() || text.size() > 5) return 0;
  uint32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + uint32_t(c - '0');
  }
  return v <= 0xFFFF ? v : 0;
}

}  // namespace

Sector build_master_toc(const DiscLayout& l, uint8_t charset, const CivilTime& clock, ReportLines* notes) {
  Sector s{};
  uint8_t* p = s.data();
  std::memcpy(p, "SACDMTOC", 8);
  p[8] = 0x01;
  p[9] = 0x14;
  // The album set: disc N of M when both are given and N lies in 1..M.
  const uint32_t number = disc_count(l.album->disc_number), total = disc_count(l.album->disc_total);
  const bool in_set = number >= 1 && total >= 1 && number <= total;
  put_be16(p + 16, in_set ? total : 1);
  put_be16(p + 18, in_set ? number : 1);
  char catalog[17];
  std::snprintf(catalog, sizeof catalog, "%-16.16s",
                l.album->catalog.empty() ? "0000000000000000" : l.album->catalog.c_str());
  std::memcpy(p + 24, catalog, 16);
  std::memcpy(p + 88, catalog, 16);
  const uint8_t genre = sacd_genre_code(l.album->genre);
  put_genre_entry(p + 40, genre);
  put_genre_entry(p + 104, genre);
  put_be32(p + 64, l.area1_toc_lsn);
  put_be16(p + 84, l.area1_toc_sectors);
  put_be32(p + 72, l.area2_toc_lsn);
  put_be16(p + 86, l.area2_toc_sectors);
  // A valid --date gives the whole disc date; otherwise the year text and
  // the clock's month and day.
  uint32_t year = uint32_t(clock.year);
  uint32_t month = uint32_t(clock.month), day = uint32_t(clock.day);
  CalendarDate date;
  if (parse_iso_date(l.album->date, date)) {
    year = uint32_t(date.year);
    month = uint32_t(date.month);
    day = uint32_t(date.day);
  } else if (!l.album->year.empty()) {
    long v = 0;
    if (read_year(l.album->year, v)) {
      year = uint32_t(v);
    } else if (notes) {
      add_line(*notes, ReportStream::Err, "Warning: invalid year '%s', using current\n", l.album->year.c_str());
    }
  }
  put_be16(p + 120, year & 0xFFFF);
  p[122] = uint8_t(month);
  p[123] = uint8_t(day);
  p[128] = uint8_t(l.master_text_copies);
  p[136] = 'e';
  p[137] = 'n';
  p[138] = charset;
  return s;
}

MasterTexts master_texts(const DiscLayout& l) {
  MasterTexts t;
  const InputTrack* first = (l.tracks && !l.tracks->empty()) ? &(*l.tracks)[0] : nullptr;
  t.album_title = !l.album->title.empty() ? l.album->title : first ? first->album : std::string();
  t.album_artist = !l.album->artist.empty() ? l.album->artist : first ? first->artist : std::string();
  t.album_publisher = l.album->label.empty() ? kPublisher : l.album->label;
  t.album_copyright = l.album->copyright;
  if (!l.album->disc_number.empty()) {
    t.disc_title = "Disc " + l.album->disc_number;
    if (!l.album->disc_total.empty()) t.disc_title += " of " + l.album->disc_total;
  }
  t.disc_artist = l.album->artist;
  if ((l.album->artist.empty() || !l.album->track_artists.empty()) && first) t.disc_artist = first->artist;
  t.disc_copyright = l.album->copyright;
  return t;
}

namespace {

// The texts in data-area order, each with the offset of its position field.
struct TextSlot {
  const std::string* text;
  size_t field;
};

std::vector<TextSlot> text_slots(const MasterTexts& t) {
  return {{&t.album_title, 16},    {&t.album_artist, 18}, {&t.album_publisher, 20},
          {&t.album_copyright, 22}, {&t.disc_title, 32},   {&t.disc_artist, 34},
          {&t.disc_copyright, 38}};
}

}  // namespace

size_t master_text_bytes(const DiscLayout& l, uint8_t charset) {
  const MasterTexts t = master_texts(l);
  size_t n = 0;
  for (const TextSlot& slot : text_slots(t))
    if (!slot.text->empty()) n += encode_text_as(charset, *slot.text).size() + 1;
  return n;
}

bool master_text_fits(const DiscLayout& l, uint8_t charset) {
  return master_text_bytes(l, charset) <= kMasterTextRoom;
}

Sector build_master_text(const DiscLayout& l, uint8_t charset) {
  Sector s{};
  uint8_t* p = s.data();
  std::memcpy(p, "SACDText", 8);
  const MasterTexts t = master_texts(l);
  size_t pos = 48;
  for (const TextSlot& slot : text_slots(t)) {
    if (slot.text->empty()) continue;
    std::string bytes = encode_text_as(charset, *slot.text);
    const size_t room = kSectorSize - pos;  // terminator included
    if (room < 2) continue;
    if (bytes.size() + 1 > room) bytes = cut_encoded(charset, bytes, room - 1);
    if (bytes.empty()) continue;
    put_be16(p + slot.field, uint32_t(pos));
    std::memcpy(p + pos, bytes.data(), bytes.size());
    pos += bytes.size() + 1;
  }
  // The disc publisher is the album publisher.
  p[36] = p[20];
  p[37] = p[21];
  return s;
}

std::string manufacturer_text(const DiscLayout& l) {
  std::string out;
  auto line = [&out](const char* key, const std::string& value) {
    if (value.empty()) return;
    out += key;
    out += ": ";
    out += value;
    out += "\r\n";
  };
  line("Manufacturer", kPublisher);
  line("Encoder", std::string("VarnEngine V") + kEngineVersion);
  line("Album", l.album->title);
  line("Artist", l.album->artist);
  line("Genre", l.album->genre);
  line("Catalog", l.album->catalog);
  line("Year", l.album->year);
  line("Label", l.album->label);
  line("Composer", l.album->composer);
  line("Conductor", l.album->conductor);
  line("Orchestra", l.album->orchestra);
  line("Barcode", l.album->barcode);
  line("Date", l.album->date);
  if (!l.album->disc_number.empty()) {
    out += "Disc: " + l.album->disc_number;
    if (!l.album->disc_total.empty()) out += " of " + l.album->disc_total;
    out += "\r\n";
  }
  return out;
}

Sector build_manufacturer(const DiscLayout& l) {
  Sector s{};
  std::memcpy(s.data(), "SACD_Man", 8);
  const std::string text = manufacturer_text(l);
  const size_t n = text.size() < kSectorSize - 8 ? text.size() : kSectorSize - 8;
  std::memcpy(s.data() + 8, text.data(), n);
  return s;
}

}  // namespace varn
