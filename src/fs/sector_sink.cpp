#include "fs/sector_sink.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fs/sector_io.h"
#include "platform/cancel.h"
#include "platform/progress.h"

namespace varn {

namespace {

// Room for at least one more sector.
void make_room(SectorSink& sink) {
  if (sink.capacity == 0) sink.capacity = 1;
  if (sink.buffer.size() < sink.capacity * kSectorSize) sink.buffer.resize(sink.capacity * kSectorSize);
  if (sink.used == sink.capacity) sink_flush(sink);
}

}  // namespace

uint8_t* sink_next(SectorSink& sink) {
  make_room(sink);
  uint8_t* slot = sink.buffer.data() + sink.used * kSectorSize;
  std::memset(slot, 0, kSectorSize);
  ++sink.used;
  ++sink.sectors;
  return slot;
}

void sink_put(SectorSink& sink, const uint8_t* bytes, size_t length) {
  for (size_t at = 0; at < length;) {
    make_room(sink);
    const size_t n = std::min((sink.capacity - sink.used) * kSectorSize, length - at);
    std::memcpy(sink.buffer.data() + sink.used * kSectorSize, bytes + at, n);
    sink.used += n / kSectorSize;
    sink.sectors += n / kSectorSize;
    at += n;
  }
}

void sink_zeros(SectorSink& sink, uint64_t count) {
  while (count > 0) {
    make_room(sink);
    const uint64_t n = std::min<uint64_t>(sink.capacity - sink.used, count);
    std::memset(sink.buffer.data() + sink.used * kSectorSize, 0, size_t(n) * kSectorSize);
    sink.used += size_t(n);
    sink.sectors += n;
    count -= n;
  }
}

void sink_flush(SectorSink& sink) {
  if (sink.used == 0) return;
  if (sink.watch) sink.watch(sink.buffer.data(), sink.used, sink.sectors - sink.used);
  if (sink.file) {
    // A stop ends the writing as a failed write would, without the bytes.
    if (!sink.failed && cancel_requested()) {
      sink.failed = true;
      sink.error = ECANCELED;
    }
    if (!sink.failed && std::fwrite(sink.buffer.data(), kSectorSize, sink.used, sink.file) != sink.used) {
      sink.failed = true;
      sink.error = errno;
    }
    progress_add(ProgressStep::Writing, uint64_t(sink.used) * kSectorSize);
  } else if (sink.memory) {
    sink.memory->insert(sink.memory->end(), sink.buffer.data(), sink.buffer.data() + sink.used * kSectorSize);
  }
  sink.used = 0;
}

}  // namespace varn
