#include "platform/exit_cleanup.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/cancel.h"
#include "platform/platform.h"

namespace varn {

namespace {

constexpr int kSlots = 16;
constexpr size_t kPathBytes = 4096;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// The handler reads only these: a slot's path is complete before its flag
// is set, and the flag is cleared before the slot is reused.
char g_paths[kSlots][kPathBytes];
std::atomic<bool> g_used[kSlots];
std::atomic<bool> g_stop_on_signal{false};

std::mutex g_mutex;  // guards the fields below (never taken in the handler)
int g_count = 0;
bool g_installed = false;
struct sigaction g_saved[kSignalCount];
struct sigaction g_saved_xfsz;

void remove_listed(int sig) {
  // A run that polls for a stop winds down and cleans up on its own; only
  // a second signal ends it here.
  if (sig != SIGHUP && g_stop_on_signal.load() && request_cancel(sig)) return;
  for (int i = 0; i < kSlots; ++i)
    if (g_used[i].load()) ::unlink(g_paths[i]);
  // Hand the signal on to whatever was in place before the run.
  for (int k = 0; k < kSignalCount; ++k)
    if (kSignals[k] == sig) ::sigaction(sig, &g_saved[k], nullptr);
  ::raise(sig);
}

void install() {
  struct sigaction sa {};
  sa.sa_handler = remove_listed;
  sigemptyset(&sa.sa_mask);
  for (int sig : kSignals) sigaddset(&sa.sa_mask, sig);
  for (int k = 0; k < kSignalCount; ++k) {
    ::sigaction(kSignals[k], nullptr, &g_saved[k]);
    // A signal the caller ignores stays ignored.
    if (g_saved[k].sa_handler != SIG_IGN) ::sigaction(kSignals[k], &sa, nullptr);
  }
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGXFSZ, &ignore, &g_saved_xfsz);
}

void restore() {
  for (int k = 0; k < kSignalCount; ++k) ::sigaction(kSignals[k], &g_saved[k], nullptr);
  ::sigaction(SIGXFSZ, &g_saved_xfsz, nullptr);
}

// The handlers are in place while a path is listed or a run stops on
// signals (caller holds g_mutex).
void update_handlers() {
  const bool wanted = g_count > 0 || g_stop_on_signal.load();
  if (wanted && !g_installed) install();
  if (!wanted && g_installed) restore();
  g_installed = wanted;
}

}  // namespace

int guard_path(const std::string& path) {
  if (path.empty() || path.size() >= kPathBytes) return -1;
  std::lock_guard<std::mutex> lock(g_mutex);
  for (int i = 0; i < kSlots; ++i) {
    if (g_used[i].load()) continue;
    std::memcpy(g_paths[i], path.c_str(), path.size() + 1);
    ++g_count;
    update_handlers();
    g_used[i].store(true);
    return i;
  }
  return -1;
}

void unguard_path(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_used[slot].load()) return;
  g_used[slot].store(false);
  --g_count;
  update_handlers();
}

void stop_on_signal(bool on) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_stop_on_signal.store(on);
  update_handlers();
}

void hold_signal_guard() {
  std::lock_guard<std::mutex> lock(g_mutex);
  ++g_count;
  update_handlers();
}

void release_signal_guard() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_count > 0) --g_count;
  update_handlers();
}

ScratchFile::ScratchFile(ScratchFile&& other) noexcept : path(std::move(other.path)), guard(other.guard) {
  other.path.clear();
  other.guard = -1;
}

ScratchFile& ScratchFile::operator=(ScratchFile&& other) noexcept {
  if (this != &other) {
    remove_scratch_file(*this);
    path = std::move(other.path);
    guard = other.guard;
    other.path.clear();
    other.guard = -1;
  }
  return *this;
}

ScratchFile::~ScratchFile() { remove_scratch_file(*this); }

bool make_scratch_file(ScratchFile& file, const std::string& pattern, const std::vector<uint8_t>& bytes) {
  remove_scratch_file(file);
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = platform_make_unique_file(name.data());
  if (fd < 0) return false;
  file.path = name.data();
  file.guard = guard_path(file.path);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += size_t(n);
  }
  const int error = errno;
  const bool closed = platform_close_fd(fd) == 0;
  if (done == bytes.size() && closed) return true;
  remove_scratch_file(file);
  errno = error ? error : EIO;
  return false;
}

void remove_scratch_file(ScratchFile& file) {
  if (!file.path.empty()) ::unlink(file.path.c_str());
  unguard_path(file.guard);
  file.path.clear();
  file.guard = -1;
}

}  // namespace varn
