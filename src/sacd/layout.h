// Sector plan of an SACD image: frames and sectors of every track with the
// packing rules of the audio writer, the fixed positions of the Master TOC
// area and the Area TOC blocks, and the printed plan.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/input_track.h"
#include "fs/sector_io.h"
#include "platform/error.h"
#include "sacd/disc_layout.h"

namespace varn {

// Bytes of the DSD stream carried by every full plain audio sector.
constexpr uint32_t kPlainPieceBytes = 2016;
// Room of a DST frame's first, middle and last sector.
constexpr uint32_t kDstFirstRoom = 2041;
constexpr uint32_t kDstMiddleRoom = 2045;
constexpr uint32_t kDstLastRoom = 2039;
// Most tracks one area can list.
constexpr size_t kMaxAreaTracks = 255;
// First LSN of the Area TOC blocks.
constexpr uint32_t kAreaTocFirstLsn = 540;

// Plain DSD frame size: (sample_rate / 600) x channels bytes.
uint64_t plain_frame_bytes(const InputTrack& t);
// The track's plain stream as written: `audio` padded to whole frames.
uint64_t plain_stream_bytes(const InputTrack& t);
// Frames of a track: DST frames, or whole (padded) plain frames.
uint32_t track_frame_count(const InputTrack& t);
// DSD silence written before the track when it is not first in its area.
uint64_t plain_pause_bytes(const InputTrack& t);
// Sectors of a plain stream of whole frames.
inline uint64_t plain_stream_sectors(uint64_t bytes) {
  return (bytes + kPlainPieceBytes - 1) / kPlainPieceBytes;
}

// Packing of one DST frame of `length` bytes of which `carry` leading bytes
// already lie in the previous frame's last sector: its own sector count and
// the bytes of its last sector after the frame's middle sectors (0 when it
// ends without a last sector).
struct DstFrameSpan {
  uint32_t sectors = 0;
  uint32_t last_bytes = 0;
};
DstFrameSpan dst_frame_span(uint32_t length, uint32_t carry);
// Leading bytes of the next frame that share the last sector.
inline uint32_t dst_next_carry(const DstFrameSpan& span, uint32_t next_length) {
  if (span.last_bytes == 0) return 0;
  const uint32_t room = kDstLastRoom - span.last_bytes;
  return next_length < room ? next_length : room;
}

// Packing table of a frame sequence: per frame its sector count and the
// number of leading bytes of the next frame placed in its last sector.
// `track_ends` (empty: one track) marks the last frame of each track: its
// last sector takes no head of the next track's first frame, so that every
// track begins in a sector of its own, where a reader starting at the
// track's first sector finds the whole first frame.
struct DstFramePack {
  uint32_t sectors = 0;
  uint32_t head = 0;
};
std::vector<DstFramePack> dst_packing_table(const std::vector<uint32_t>& lengths,
                                            const std::vector<bool>& track_ends = {});

// Play time of an area in frames: its tracks and the pauses between them
// (the sum of the track lengths for a plan made without time codes).
inline uint64_t area_play_frames(const AreaPlan& plan) {
  uint64_t sum = 0;
  for (uint32_t f : plan.track_frames) sum += f;
  return plan.total_frames > sum ? plan.total_frames : sum;
}

// Plans one area from its ordered track positions.
AreaPlan plan_area(const std::vector<InputTrack>& tracks, const std::vector<uint64_t>& area);

// The coding the job asked for, which a refusal's advice depends on.
struct AreaCoding {
  bool dst_stereo = false;  // stereo tracks DST-coded too
  bool no_encode = false;   // multichannel tracks left plain
};

// Why one area cannot be described by one Area TOC (mixed coding, rates or
// channel counts, too many tracks, no audio, a rate without a code), or
// nothing when it can. `paths` names the track files.
Status area_refusal(const std::vector<InputTrack>& tracks, const std::vector<uint64_t>& area,
                    const std::vector<std::string>& paths, const AreaCoding& coding, bool multichannel);

// Plans the layout of `tracks` for `album`: both areas (tracks by channel
// count, in track order), the character set of every disc text, and the
// fixed positions with each Area TOC block as large as its texts need.
// Refuses track texts that no block can hold.
Status plan_disc_layout(std::vector<InputTrack>& tracks, const Album& album, DiscLayout& layout);

// Fixed positions from the areas that have sectors and the sectors each
// Area TOC block reserves.
void place_fixed_positions(DiscLayout& layout, uint32_t stereo_toc_sectors,
                           uint32_t multi_toc_sectors);

// The printed plan ("\nISO Layout:\n" ...).
std::string layout_plan_text(const DiscLayout& layout);

// Positions of the tracks of one area in the track list, in job order.
std::vector<size_t> area_track_positions(const std::vector<InputTrack>& tracks, bool multichannel);
inline bool area_exists(const DiscLayout& l, bool multichannel) {
  return (multichannel ? l.multi : l.stereo).total_sectors > 0;
}
// Area TOC LSN and reserved sectors of an area (0 when it does not exist).
uint32_t area_toc_lsn(const DiscLayout& l, bool multichannel);
uint32_t area_toc_sectors(const DiscLayout& l, bool multichannel);
// First audio LSN of an area.
uint32_t area_start_lsn(const DiscLayout& l, bool multichannel);
// First sector after the SACD data (audio and two run-out sectors),
// counted past 32 bits.
uint64_t sacd_end_lsn(const DiscLayout& l);
// Sectors the volumes keep behind the SACD data at the least.
constexpr uint32_t kVolumeTailSectors = 64;

// The largest recordable disc an image can be burnt to: a four-layer BD-R XL.
constexpr uint64_t kLargestDiscBytes = 128001769472ULL;
static_assert(kLargestDiscBytes / kSectorSize < (uint64_t(1) << 32));
// Refuses a layout whose image no disc could hold (a long pause between
// tracks is the usual way to ask for one). The area sizes are counted in
// 64 bits; every sector number of a layout this passes fits the disc's
// 32-bit fields, which is what lets the TOCs and the image plan take them
// as 32-bit numbers.
Status fits_largest_disc(const DiscLayout& layout);

}  // namespace varn
