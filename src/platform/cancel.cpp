#include "platform/cancel.h"

#include <atomic>

namespace varn {

namespace {

// Lock-free, so that the signal handler may set it.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

}  // namespace

bool cancel_requested() { return g_signal.load(std::memory_order_relaxed) != 0; }

int cancel_signal() { return g_signal.load(); }

bool request_cancel(int signal_number) {
  int none = 0;
  return g_signal.compare_exchange_strong(none, signal_number != 0 ? signal_number : -1);
}

void clear_cancel() { g_signal.store(0); }

}  // namespace varn
