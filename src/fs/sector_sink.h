// Where an image's sectors go as they are made: a buffer of whole sectors
// written to a file in large batches (or appended to a byte vector), with
// an optional watcher that sees every batch in order, so the image can be
// hashed while it is written instead of being read again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

namespace varn {

struct SectorSink {
  FILE* file = nullptr;
  std::vector<uint8_t>* memory = nullptr;
  std::vector<uint8_t> buffer;
  size_t used = 0;          // sectors in the buffer
  uint64_t sectors = 0;     // sectors handed out in all
  size_t capacity = 1024;   // sectors per batch (2 MiB)
  bool failed = false;      // a write to the file came up short
  int error = 0;            // errno of that write
  // Sees each batch before it is written: its bytes and the number of its
  // first sector.
  std::function<void(const uint8_t* bytes, size_t count, uint64_t first)> watch;
};

// A zeroed 2048-byte slot for the next sector.
uint8_t* sink_next(SectorSink& sink);
// Copies whole sectors (`bytes` a multiple of 2048 long).
void sink_put(SectorSink& sink, const uint8_t* bytes, size_t length);
// `count` zero sectors.
void sink_zeros(SectorSink& sink, uint64_t count);
// Hands the buffered sectors on.
void sink_flush(SectorSink& sink);

}  // namespace varn
