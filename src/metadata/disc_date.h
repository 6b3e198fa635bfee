// A calendar date given as text ("YYYY-MM-DD"), as the disc date takes it.
#pragma once

#include <string>

namespace varn {

struct CalendarDate {
  int year = 0, month = 0, day = 0;
};

// True when `text` is exactly YYYY-MM-DD naming a real day (leap years
// counted); `date` is then filled.
bool parse_iso_date(const std::string& text, CalendarDate& date);
inline bool is_iso_date(const std::string& text) {
  CalendarDate d;
  return parse_iso_date(text, d);
}

}  // namespace varn
