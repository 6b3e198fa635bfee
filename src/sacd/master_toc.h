// The Master TOC area: the Master TOC sector (SACDMTOC, three copies), the
// Master Text sector (SACDText, eight copies) and the Manufacturer sector
// (SACD_Man).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/report_lines.h"
#include "sacd/disc_layout.h"
#include "sacd/sector.h"

namespace varn {

// Bytes of the Master Text data area (offsets 48..2047).
constexpr size_t kMasterTextRoom = 2000;

// Master TOC sector: album set from the disc number and total, genre
// entries from the album's genre, the disc date from a valid date text, else
// from `clock` (year from the layout's year text when it reads as a number,
// else the clock's year, with a warning added to `notes` when given).
Sector build_master_toc(const DiscLayout& layout, uint8_t charset, const CivilTime& clock,
                        ReportLines* notes = nullptr);

// The Master Text texts before encoding (empty = absent).
struct MasterTexts {
  std::string album_title;
  std::string album_artist;
  std::string album_publisher;
  std::string album_copyright;
  std::string disc_title;
  std::string disc_artist;
  std::string disc_copyright;
};
MasterTexts master_texts(const DiscLayout& layout);

// Bytes the encoded texts need in the data area, terminators included.
size_t master_text_bytes(const DiscLayout& layout, uint8_t charset);
// True when they fit the 2000-byte data area; otherwise the sector carries
// the texts cut at a character boundary.
bool master_text_fits(const DiscLayout& layout, uint8_t charset);

Sector build_master_text(const DiscLayout& layout, uint8_t charset);

// "Key: value\r\n" lines of the Manufacturer sector (job text bytes).
std::string manufacturer_text(const DiscLayout& layout);
Sector build_manufacturer(const DiscLayout& layout);

}  // namespace varn
