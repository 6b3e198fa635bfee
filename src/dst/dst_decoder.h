// DST frame decoder (the decoder side of the lossless coding of
// oversampled audio): frame header with segmentation and mapping, filter
// coefficients and probability tables in their plain and coded (Rice with
// prediction) forms, the arithmetic decoder and the prediction filter. It
// also reads plain frames (first byte 0x00 followed by the DSD bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dst/dst_coded_symbols.h"

namespace varn {

constexpr int kDstMaxFilterSegments = 4;  // per channel
constexpr int kDstMaxTableSegments = 8;   // per channel

// Segmentation of the channels into parts with their own filter or table.
struct DstSegmentation {
  bool same_for_all_channels = true;
  unsigned resolution = 0;  // in bytes; 0 when no channel is segmented
  // Per channel: segment lengths in bits; the last segment runs to the end
  // of the frame (its length is stored as 0).
  std::vector<std::vector<uint32_t>> lengths;
  // Per channel and segment: the filter or table number.
  std::vector<std::vector<unsigned>> table;
  bool same_mapping_for_all_channels = false;
  unsigned count = 0;  // number of filters or tables
};

// Everything a frame header says.
struct DstFrameHeader {
  bool dst_coded = false;
  bool same_segmentation = true;  // tables segmented as the filters
  bool same_mapping = true;       // tables mapped as the filters
  DstSegmentation filter_seg;
  DstSegmentation table_seg;
  std::vector<uint8_t> half_prob;             // per channel
  std::vector<int> filter_order;              // per filter
  std::vector<bool> filter_coded;             // coefficients in coded form
  std::vector<std::vector<int>> coef;         // per filter
  std::vector<int> table_length;              // per table
  std::vector<bool> table_coded;              // entries in coded form
  std::vector<std::vector<int>> table_entry;  // per table, 1..128
  size_t header_bits = 0;                     // where the arithmetic data begins
};

// Reads the header of a frame of `size` bytes. Returns false with a reason
// in `error` when the frame is malformed.
bool dst_parse_frame_header(const uint8_t* frame, size_t size, int channels,
                            size_t bytes_per_channel, DstFrameHeader& header, std::string& error);

// Decoder working state for one channel count and frame size; reused from
// frame to frame.
struct DstDecoder {
  int channels = 0;
  size_t bytes_per_channel = 0;
  DstFrameHeader header;
  std::vector<int16_t> filter_tables;  // per filter: 16 x 256 partial sums
  std::vector<uint8_t> table_lut;      // per table: probability of index 0..63
  std::string error;
  // After a decoded coded frame: how far into the frame the arithmetic
  // decoder has read, in bits (it may read a little past the end, where
  // the coder dropped trailing zero bits).
  size_t bits_read = 0;
  // Scratch of dst_check_frame: the filters and the tables (256 entries
  // each); and, only once it must predict the channels itself, a block of
  // symbols per channel for each of the frame's four parts and the input's
  // bits of a block in the kernels' two forms.
  std::vector<uint8_t> check_symbols;
  std::vector<int16_t> check_mask;
  std::vector<int16_t> check_pred;
  std::vector<uint8_t> check_luts;
  std::vector<int16_t> check_coefs;
  // Parts the last check's arithmetic decoding ran in side by side (1: the
  // frame from its start alone).
  int check_parts = 0;
};

bool dst_decoder_init(DstDecoder& d, int channels, size_t bytes_per_channel);

// Decodes one frame into channels x bytes_per_channel bytes of plain DSD
// (byte-interleaved, most significant bit first). Returns false with
// d.error set when the frame is malformed.
bool dst_decode_frame(DstDecoder& d, const uint8_t* frame, size_t size, uint8_t* out);

// True when the frame decodes to `input` (channels x bytes_per_channel
// bytes). The header is read from the frame's bytes; the predictions are
// computed from the input's bits, which every decoded bit must equal, so
// only the arithmetic decoding runs serially, up to the end or to the
// first bit that differs. A frame with segments is decoded in full into
// `scratch` (frame size) and compared.
//
// `coded`, what the coder left of this very frame of this input, spares
// the prediction when the frame's header names exactly the filters its
// symbols were made with, and lets the frame's quarters be decoded side by
// side from its marks (each must end where the next began; when they do
// not, the frame is decoded from its start alone).
bool dst_check_frame(DstDecoder& d, const uint8_t* frame, size_t size, const uint8_t* input, uint8_t* scratch,
                     const DstCodedSymbols* coded = nullptr);

}  // namespace varn
