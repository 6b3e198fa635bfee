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
#include "fs/sector_sink.h"
#include "platform/error.h"
#include "sacd/disc_layout.h"
#include "sacd/sector.h"

namespace varn {

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

// The bytes of frame `index` of a sequence, asked for in increasing order
// (a frame may be asked for again); valid until the next request. Null when
// they cannot be had.
using DstFrameBytes = std::function<const uint8_t*(size_t index)>;
// The sectors of a DST frame sequence of `lengths`, frame time codes from
// `first_frame`; `track_ends` as for dst_packing_table. False when a
// frame's bytes could not be had (the sectors so far stay).
bool pack_dst_frames(SectorSink& sink, const std::vector<uint32_t>& lengths, const DstFrameBytes& bytes,
                     uint32_t channels, uint64_t first_frame, const std::vector<bool>& track_ends = {});
std::vector<uint8_t> pack_dst(const std::vector<DstFrame>& frames, uint32_t channels,
                              uint64_t first_frame = 0);

// Frame-info byte of a DST frame start; `sectors` counts every sector that
// holds bytes of the frame.
uint8_t dst_frame_info_byte(uint32_t channels, uint32_t sectors);

// Run-out sector: 0x20 0x04 0x00 then 2045 bytes 0x55.
Sector run_out_sector();

// Writes the audio sectors of one area (no run-out) into the sink. An
// error when a track cannot be read, a write failed or the sectors written
// differ from the layout's plan.
Status write_area_audio(SectorSink& sink, const DiscLayout& layout, bool multichannel);

}  // namespace varn
