// What the arithmetic coder sees of one channel predicted by one filter:
// per position a symbol byte, the residual bit in bit 7 and the table
// index (0..63) below it, or index 64 at positions coded with probability
// 128 (before the filter has its full history).
#pragma once

#include <cstddef>
#include <cstdint>

#include "dst/dst_kernel.h"

namespace varn {

constexpr uint8_t kDstUnpredicted = 64;

// Positions [first, first + count) of channel c of an interleaved frame in
// the kernels' forms, after their history: the frame's bits before
// `first`, and before the frame a fixed history of alternating bits (0 at
// position -1, 1 at -2, ...). `mask` and `six` each hold kDstKernelHistory
// + count entries and point at position `first`.
void dst_unpack_bit_range(const uint8_t* frame, int channels, int c, size_t first, size_t count, int16_t* mask,
                          int16_t* six);

// Symbols of `length` positions for the filter coef[0..order) over `mask`;
// positions below `unpredicted` get index 64. When `counts` is given (256
// entries, one per symbol byte), the positions from `unpredicted` on are
// counted into it. `pred` is scratch of min(length, kDstSymbolBlock)
// entries.
constexpr size_t kDstSymbolBlock = 8192;
void dst_channel_symbols(const int16_t* coef, int order, const DstBits& bits, size_t length,
                         size_t unpredicted, uint8_t* sym, uint32_t* counts, int16_t* pred);

// The probability of every symbol byte of a table: lut[v] for the index in
// the low 7 bits of v, entries limited to the table's length, 128 for the
// unpredicted index.
void dst_symbol_lut(const uint8_t* table, int table_length, uint8_t lut[256]);

}  // namespace varn
