// What the arithmetic coder sees of one channel predicted by one filter:
// per position a symbol byte, the residual bit in bit 7 and the table
// index (0..63) below it, or index 64 at positions coded with probability
// 128 (before the filter has its full history).
#pragma once

#include <cstddef>
#include <cstdint>

namespace varn {

constexpr size_t kDstMaskHistory = 128;  // mask positions before position 0
constexpr uint8_t kDstUnpredicted = 64;

// Channel c of an interleaved frame (bc bytes per channel) as 0/-1 masks
// at mask[0..8 bc), preceded by the fixed history of alternating bits (0 at
// position -1, 1 at -2, ...) in mask[-128..-1].
void dst_unpack_mask(const uint8_t* frame, int channels, int c, size_t bc, int16_t* mask);

// Symbols of `length` positions for the filter coef[0..order) over `mask`;
// positions below `unpredicted` get index 64. When `counts` is given (64 x 2
// entries, index * 2 + residual), the positions from `unpredicted` on are
// added to it. `pred` is scratch of kDstSymbolBlock entries.
constexpr size_t kDstSymbolBlock = 4096;
void dst_channel_symbols(const int16_t* coef, int order, const int16_t* mask, size_t length,
                         size_t unpredicted, uint8_t* sym, uint32_t* counts, int16_t* pred);

// The probability of every symbol byte of a table: lut[v] for the index in
// the low 7 bits of v, entries limited to the table's length, 128 for the
// unpredicted index.
void dst_symbol_lut(const uint8_t* table, int table_length, uint8_t lut[256]);

}  // namespace varn
