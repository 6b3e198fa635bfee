#include "platform/mapped_file.h"

#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

namespace varn {

namespace {

#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22
#endif

// The guarded read running on this thread, if any.
thread_local sigjmp_buf* t_guard = nullptr;
struct sigaction g_previous;

// A SIGBUS raised inside a guarded read ends that read; any other goes to
// whatever handled it before, or ends the process as it would have.
void on_bus_error(int sig, siginfo_t* info, void* context) {
  if (t_guard) siglongjmp(*t_guard, 1);
  if ((g_previous.sa_flags & SA_SIGINFO) && g_previous.sa_sigaction) {
    g_previous.sa_sigaction(sig, info, context);
  } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(sig);
  } else {
    // Returning retries the faulting access, which now meets the default.
    signal(SIGBUS, SIG_DFL);
  }
}

void install_handler() {
  struct sigaction sa {};
  sa.sa_sigaction = on_bus_error;
  sa.sa_flags = SA_SIGINFO;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGBUS, &sa, &g_previous);
}

}  // namespace

MappedWindow::~MappedWindow() { unmap_window(*this); }

void unmap_window(MappedWindow& w) {
  if (w.base) munmap(const_cast<uint8_t*>(w.base), w.length);
  w.base = nullptr;
  w.length = 0;
  w.fd = -1;
}

const uint8_t* map_file_range(MappedWindow& w, int fd, uint64_t size, uint64_t offset, size_t n) {
  if (fd < 0 || offset > size || n > size - offset) return nullptr;
  if (w.base && w.fd == fd && offset >= w.offset && offset + n <= w.offset + w.length)
    return w.base + (offset - w.offset);
  unmap_window(w);
  static const long page = sysconf(_SC_PAGESIZE);
  const uint64_t start = offset - offset % uint64_t(page);
  // Never past the end of the file: a mapped page wholly past it cannot be
  // read.
  const uint64_t length = std::min<uint64_t>(std::max<uint64_t>(kMapWindowBytes, offset + n - start), size - start);
  if (length == 0) return nullptr;
  void* p = mmap(nullptr, size_t(length), PROT_READ, MAP_SHARED, fd, off_t(start));
  if (p == MAP_FAILED) return nullptr;
  // The pages in one call rather than one fault each; a kernel without it
  // just faults them in.
  madvise(p, size_t(length), MADV_POPULATE_READ);
  w.base = static_cast<const uint8_t*>(p);
  w.offset = start;
  w.length = size_t(length);
  w.fd = fd;
  return w.base + (offset - start);
}

bool guarded_mapped_read(void (*read)(void* arg), void* arg) {
  static std::once_flag installed;
  std::call_once(installed, install_handler);
  sigjmp_buf jump;
  // The mask is saved so that the jump out of the handler unblocks SIGBUS.
  if (sigsetjmp(jump, 1) != 0) {
    t_guard = nullptr;
    return false;
  }
  t_guard = &jump;
  read(arg);
  t_guard = nullptr;
  return true;
}

}  // namespace varn
