// Area TOC block of one audio area: the TOC sector (TWOCHTOC / MULCHTOC),
// the track text (SACDTTxt, one or more sectors), the track lists SACDTRL1
// and SACDTRL2 and the ISRC list SACD_IGL (two sectors).
//
// Block of k text sectors, relative to the Area TOC LSN N. With one text
// sector (k = 1):
//   N          TOC sector
//   N+1        track text
//   N+2        SACDTRL1
//   N+3        SACDTRL2
//   N+4, N+5   SACD_IGL (its second sector zeros unless the area has ISRCs
//              beyond its 170th track or a genre)
// The TOC's size field says 6; the layout reserves 5 sectors when the last
// one is all zeros (the next structure may take it), else 6.
// With more text sectors the lists come first, so that a reader walking the
// block sector by sector by signature meets them before the text's
// continuation sectors, and nothing overlaps:
//   N, N+1 SACDTRL1, N+2 SACDTRL2, N+3..N+4 SACD_IGL, N+5..N+4+k track text
// The size field and the reservation then both say 5 + k.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "sacd/disc_layout.h"
#include "sacd/sector.h"

namespace varn {

constexpr size_t kIsrcListBytes = 4092;
// Most text sectors a block may have (its list offsets are 16-bit byte
// offsets from the TOC sector).
constexpr uint32_t kMaxTrackTextSectors = 29;

// One area as its Area TOC describes it.
struct AreaDesc {
  bool multichannel = false;
  std::vector<size_t> tracks;     // positions in the layout's track list
  const AreaPlan* plan = nullptr;
  uint32_t channels = 2;          // channel_count byte
  uint32_t rate_multiple = 64;
  uint32_t base_rate = 44100;
  bool is_dst = false;
  uint32_t toc_lsn = 0;
  uint32_t toc_sectors = 0;       // sectors reserved by the layout
  uint32_t start_lsn = 0;         // first audio LSN of the area
};
AreaDesc describe_area(const DiscLayout& layout, bool multichannel);

// Sample-rate and coding code (byte 20) and loudspeaker configuration
// (byte 33).
uint8_t sample_frequency_code(uint32_t rate_multiple, uint32_t base_rate, bool is_dst);
uint8_t loudspeaker_config(uint32_t channels);

// Track text block of the area, padded to whole sectors, texts encoded
// with `charset`.
std::vector<uint8_t> build_track_text_block(const std::vector<InputTrack>& tracks,
                                            const std::vector<size_t>& area_tracks,
                                            uint8_t charset);
// ISRC and genre list (4092 bytes) for the area's tracks; ISRCs looked up
// by the track's position in the whole track list; every track's genre
// entry from the album's genre code (none for 0).
std::vector<uint8_t> build_isrc_list(const std::map<int32_t, std::string>& isrc_by_track,
                                     const std::vector<size_t>& area_tracks, uint8_t genre = 0);

// Sector counts of a block and where its parts lie (sectors from N).
struct AreaTocShape {
  uint32_t text_sectors = 1;    // k
  uint32_t block_sectors = 6;   // the size field
  uint32_t reserved = 5;        // sectors the layout keeps for the block
  uint32_t text_at = 1;
  uint32_t trl1_at = 2;
  uint32_t trl2_at = 3;
  uint32_t igl_at = 4;
};
AreaTocShape area_toc_shape(const std::vector<uint8_t>& text_block,
                            const std::vector<uint8_t>& isrc_list);
AreaTocShape area_toc_shape(const std::vector<InputTrack>& tracks,
                            const std::vector<size_t>& area_tracks,
                            const std::map<int32_t, std::string>& isrc_by_track, uint8_t charset,
                            uint8_t genre = 0);

// The sectors of a block.
Sector build_area_toc_sector(const AreaDesc& area, uint8_t charset, const AreaTocShape& shape);
Sector build_track_list1(const AreaDesc& area);
Sector build_track_list2(const AreaDesc& area);

// The whole block (its size field's sectors) with texts in `charset`.
struct AreaTocBlock {
  std::vector<uint8_t> bytes;
  AreaTocShape shape;
};
AreaTocBlock build_area_toc_block(const DiscLayout& layout, bool multichannel, uint8_t charset);

}  // namespace varn
