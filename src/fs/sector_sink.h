// Where an image's sectors go as they are made: a buffer of whole sectors
// written to a file in large batches (or appended to a byte vector), with
// an optional watcher that sees every batch in order, so the image can be
// hashed while it is written instead of being read again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace varn {

struct SinkHelper;

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
  // A second thread taking part of each batch's work (sink_share_work).
  std::shared_ptr<SinkHelper> helper;
};

// A zeroed 2048-byte slot for the next sector.
uint8_t* sink_next(SectorSink& sink);
// Copies whole sectors (`bytes` a multiple of 2048 long).
void sink_put(SectorSink& sink, const uint8_t* bytes, size_t length);
// `count` zero sectors.
void sink_zeros(SectorSink& sink, uint64_t count);
// Hands the buffered sectors on.
void sink_flush(SectorSink& sink);

// For a sink writing to a file: from now on a second thread takes the
// batches in order, runs the watcher on them (the batch is written first
// on the calling thread), or, without a watcher, writes them; the calling
// thread meanwhile fills the next batch. A failed write shows in `failed`
// a few batches late, and at the latest after sink_settle.
void sink_share_work(SectorSink& sink);
// Waits until the second thread has done all it was handed; `failed` and
// `error` are then those of every batch flushed so far.
void sink_settle(SectorSink& sink);
// Settles and ends the second thread.
void sink_end_sharing(SectorSink& sink);

}  // namespace varn
