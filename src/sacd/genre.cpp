#include "sacd/genre.h"

#include <cctype>

namespace varn {

namespace {

struct GenreName {
  const char* key;  // lower-case letters and digits, '&' as "and"
  uint8_t code;
};

constexpr GenreName kGenres[] = {
    {"adultcontemporary", 2}, {"alternativerock", 3}, {"alternative", 3},
    {"childrensmusic", 4},    {"childrens", 4},       {"children", 4},
    {"classical", 5},         {"contemporarychristian", 6}, {"christian", 6},
    {"country", 7},           {"dance", 8},           {"easylistening", 9},
    {"erotic", 10},           {"folk", 11},           {"gospel", 12},
    {"hiphop", 13},           {"jazz", 14},           {"latin", 15},
    {"musical", 16},          {"newage", 17},         {"opera", 18},
    {"operetta", 19},         {"popmusic", 20},       {"pop", 20},
    {"rap", 21},              {"reggae", 22},         {"rockmusic", 23},
    {"rock", 23},             {"rhythmandblues", 24}, {"randb", 24},
    {"rnb", 24},              {"soundeffects", 25},   {"soundtrack", 26},
    {"spokenword", 27},       {"worldmusic", 28},     {"world", 28},
    {"blues", 29},
};

}  // namespace

uint8_t sacd_genre_code(const std::string& name) {
  std::string key;
  for (unsigned char c : name) {
    if (std::isalnum(c)) key += char(std::tolower(c));
    else if (c == '&') key += "and";
  }
  for (const GenreName& g : kGenres)
    if (key == g.key) return g.code;
  return 0;
}

void put_genre_entry(uint8_t* entry, uint8_t code) {
  entry[0] = code ? kGenreCategoryGeneral : 0;
  entry[1] = entry[2] = 0;
  entry[3] = code;
}

}  // namespace varn
