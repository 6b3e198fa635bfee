#include "platform/progress.h"

#include <atomic>

namespace varn {

namespace {

std::atomic<ProgressSink> g_sink{nullptr};
std::atomic<uint64_t> g_done[kProgressSteps];
std::atomic<uint64_t> g_total[kProgressSteps];

void send(ProgressStep step, ProgressPhase phase, uint64_t done) {
  if (ProgressSink sink = g_sink.load(std::memory_order_relaxed))
    sink(ProgressEvent{step, phase, done, g_total[int(step)].load(std::memory_order_relaxed)});
}

}  // namespace

void set_progress_sink(ProgressSink sink) { g_sink.store(sink); }

void progress_begin(ProgressStep step, uint64_t total) {
  g_total[int(step)].store(total);
  g_done[int(step)].store(0);
  send(step, ProgressPhase::Begin, 0);
}

void progress_add(ProgressStep step, uint64_t units) {
  const uint64_t done = g_done[int(step)].fetch_add(units, std::memory_order_relaxed) + units;
  send(step, ProgressPhase::Update, done);
}

void progress_end(ProgressStep step) { send(step, ProgressPhase::End, g_done[int(step)].load()); }

}  // namespace varn
