// The disc's genre codes: the genre list of the SACD structures, looked up
// by name without regard to case, spaces or punctuation, with the common
// short forms ("Rock", "Pop", "R&B", ...).
#pragma once

#include <cstdint>
#include <string>

namespace varn {

// Category of the genre entries we write: General.
constexpr uint8_t kGenreCategoryGeneral = 1;

// Genre code 2..29, or 0 when the name is none of the list.
uint8_t sacd_genre_code(const std::string& name);

// One 4-byte genre entry (category, 0, 0, genre); all zero for code 0.
void put_genre_entry(uint8_t* entry, uint8_t code);

}  // namespace varn
