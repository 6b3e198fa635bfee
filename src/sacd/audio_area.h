// Audio sectors: plain DSD cut into 2016-byte pieces and DST frames packed
// back to back, each sector with its header, packet-info and frame-info
// entries. The writer streams: it holds a reusable buffer of a few MiB and
// never a whole area.
#pragma once

#include <cstdint>
#include <functional>
#include <cstdio>
#include <vector>

#include "dst/dst_frame.h"
#include "sacd/disc_layout.h"
#include "sacd/sector.h"

namespace varn {

// Destination of built sectors: a file (written whenever the buffer is
// full, and at flush) or, with no file, an in-memory byte vector.
struct SectorSink {
  FILE* file = nullptr;
  std::vector<uint8_t>* memory = nullptr;
  std::vector<uint8_t> buffer;
  size_t used = 0;          // sectors in the buffer
  uint64_t sectors = 0;     // sectors handed out in all
  size_t capacity = 1024;   // sectors per buffer (2 MiB)
  bool failed = false;      // a write to the file came up short
  int error = 0;            // errno of that write
};
// A zeroed 2048-byte slot for the next sector.
uint8_t* sink_next(SectorSink& sink);
void sink_flush(SectorSink& sink);

// Plain DSD stream of `total` bytes, of which the first `length` come from
// `data` and the rest are `fill` (padding of a last partial frame, or a
// pause with length 0). Frames of `frame_bytes`; time codes from
// `first_frame`.
void pack_plain_stream(SectorSink& sink, const uint8_t* data, uint64_t length, uint64_t total,
                       uint8_t fill, uint64_t frame_bytes, uint64_t first_frame);

// Bytes [pos, pos + n) of a plain stream's data, requested in increasing
// order; null when they cannot be had.
using PlainBytes = std::function<const uint8_t*(uint64_t pos, size_t n)>;
// The same with the data from `data`; false when it failed (the sectors
// written so far stay).
bool pack_plain_stream(SectorSink& sink, const PlainBytes& data, uint64_t length, uint64_t total,
                       uint8_t fill, uint64_t frame_bytes, uint64_t first_frame);

// The sectors of one plain stream (a track or a pause), padded to whole
// frames with 0x69.
std::vector<uint8_t> pack_plain_dsd(const uint8_t* data, size_t length, uint32_t channels,
                                    uint32_t rate_multiple, uint64_t first_frame,
                                    uint32_t base_rate);

// The sectors of a DST frame sequence, frame time codes from `first_frame`;
// `track_ends` as for dst_packing_table.
void pack_dst_frames(SectorSink& sink, const std::vector<const DstFrame*>& frames,
                     uint32_t channels, uint64_t first_frame,
                     const std::vector<bool>& track_ends = {});
std::vector<uint8_t> pack_dst(const std::vector<DstFrame>& frames, uint32_t channels,
                              uint64_t first_frame = 0);

// Frame-info byte of a DST frame start; `sectors` counts every sector that
// holds bytes of the frame.
uint8_t dst_frame_info_byte(uint32_t channels, uint32_t sectors);

// Run-out sector: 0x20 0x04 0x00 then 2045 bytes 0x55.
Sector run_out_sector();

// Writes both areas from audio_start_lsn on. False, after a message, when
// an area's written sector count differs from the plan or a write fails.
bool write_audio_area(FILE* image, const DiscLayout& layout);

}  // namespace varn
