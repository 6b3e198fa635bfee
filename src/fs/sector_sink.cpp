#include "fs/sector_sink.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "fs/sector_io.h"
#include "platform/cancel.h"
#include "platform/progress.h"

namespace varn {

// The batches handed to the second thread and the buffers it gave back.
// Buffers move between the two threads; their bytes are never copied.
struct SinkHelper {
  struct Batch {
    std::vector<uint8_t> bytes;
    size_t count = 0;
    uint64_t first = 0;
  };
  static constexpr size_t kBuffers = 3;  // besides the one being filled
  std::mutex mutex;
  std::condition_variable handed;  // a batch was queued, or closing was set
  std::condition_variable done;    // a batch was finished
  std::deque<Batch> queue;         // guarded by mutex
  std::vector<std::vector<uint8_t>> spare;  // guarded by mutex
  size_t busy = 0;                 // batches handed and not finished; guarded
  bool closing = false;            // guarded
  bool failed = false;             // guarded
  int error = 0;                   // guarded
  std::thread thread;

  ~SinkHelper() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      closing = true;
    }
    handed.notify_one();
    if (thread.joinable()) thread.join();
  }
};

namespace {

// Room for at least one more sector.
void make_room(SectorSink& sink) {
  if (sink.capacity == 0) sink.capacity = 1;
  if (sink.buffer.size() < sink.capacity * kSectorSize) sink.buffer.resize(sink.capacity * kSectorSize);
  if (sink.used == sink.capacity) sink_flush(sink);
}

// Writes a batch unless an earlier one failed; a stop ends the writing as
// a failed write would, without the bytes.
void write_batch(FILE* file, const uint8_t* bytes, size_t count, bool& failed, int& error) {
  if (!failed && cancel_requested()) {
    failed = true;
    error = ECANCELED;
  }
  if (!failed && std::fwrite(bytes, kSectorSize, count, file) != count) {
    failed = true;
    error = errno;
  }
}

void helper_loop(SinkHelper& h, SectorSink& sink) {
  std::unique_lock<std::mutex> lock(h.mutex);
  for (;;) {
    h.handed.wait(lock, [&h] { return !h.queue.empty() || h.closing; });
    if (h.queue.empty()) return;
    SinkHelper::Batch b = std::move(h.queue.front());
    h.queue.pop_front();
    bool failed = h.failed;
    int error = h.error;
    lock.unlock();
    if (sink.watch)
      sink.watch(b.bytes.data(), b.count, b.first);
    else
      write_batch(sink.file, b.bytes.data(), b.count, failed, error);
    lock.lock();
    h.failed = failed;
    h.error = error;
    h.spare.push_back(std::move(b.bytes));
    --h.busy;
    h.done.notify_one();
  }
}

// Queues the buffered batch for the second thread and takes a free buffer
// in its place.
void hand_over(SectorSink& sink) {
  SinkHelper& h = *sink.helper;
  std::unique_lock<std::mutex> lock(h.mutex);
  h.done.wait(lock, [&h] { return !h.spare.empty(); });
  h.queue.push_back({std::move(sink.buffer), sink.used, sink.sectors - sink.used});
  sink.buffer = std::move(h.spare.back());
  h.spare.pop_back();
  ++h.busy;
  if (h.failed && !sink.failed) {
    sink.failed = true;
    sink.error = h.error;
  }
  lock.unlock();
  h.handed.notify_one();
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
  if (sink.helper) {
    if (sink.watch) write_batch(sink.file, sink.buffer.data(), sink.used, sink.failed, sink.error);
    progress_add(ProgressStep::Writing, uint64_t(sink.used) * kSectorSize);
    hand_over(sink);
  } else {
    if (sink.watch) sink.watch(sink.buffer.data(), sink.used, sink.sectors - sink.used);
    if (sink.file) {
      write_batch(sink.file, sink.buffer.data(), sink.used, sink.failed, sink.error);
      progress_add(ProgressStep::Writing, uint64_t(sink.used) * kSectorSize);
    } else if (sink.memory) {
      sink.memory->insert(sink.memory->end(), sink.buffer.data(), sink.buffer.data() + sink.used * kSectorSize);
    }
  }
  sink.used = 0;
}

void sink_share_work(SectorSink& sink) {
  if (!sink.file || sink.helper) return;
  sink.helper = std::make_shared<SinkHelper>();
  SinkHelper& h = *sink.helper;
  for (size_t k = 0; k < SinkHelper::kBuffers; ++k) h.spare.emplace_back(sink.capacity * kSectorSize);
  try {
    h.thread = std::thread(helper_loop, std::ref(h), std::ref(sink));
  } catch (const std::system_error&) {
    sink.helper.reset();  // no thread to be had: the work stays on this one
  }
}

void sink_settle(SectorSink& sink) {
  if (!sink.helper) return;
  SinkHelper& h = *sink.helper;
  std::unique_lock<std::mutex> lock(h.mutex);
  h.done.wait(lock, [&h] { return h.busy == 0; });
  if (h.failed && !sink.failed) {
    sink.failed = true;
    sink.error = h.error;
  }
}

void sink_end_sharing(SectorSink& sink) {
  sink_settle(sink);
  sink.helper.reset();
}

}  // namespace varn
