// Reading a large input through read-only memory windows instead of copying
// it into a buffer: a window of the file is mapped, read in place, and
// replaced by the next as reading moves on, so memory stays bounded by the
// window whatever the file's length.
//
// A file that shrinks while a window is in use (another program truncating
// it) would raise SIGBUS on the bytes past its new end. Reads of mapped
// bytes therefore run inside guarded_mapped_read, which turns that into a
// failed read, as a short read() would be.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varn {

// Bytes mapped at a time (unless one request needs more).
constexpr size_t kMapWindowBytes = size_t(8) << 20;

struct MappedWindow {
  const uint8_t* base = nullptr;
  uint64_t offset = 0;  // file offset of base
  size_t length = 0;
  int fd = -1;          // the file mapped
  MappedWindow() = default;
  MappedWindow(const MappedWindow&) = delete;
  MappedWindow& operator=(const MappedWindow&) = delete;
  ~MappedWindow();
};

// Bytes [offset, offset + n) of the open file `fd`, which must lie within
// its `size`; the window moves when they lie outside it. Null when the
// file cannot be mapped (the caller reads the bytes instead).
const uint8_t* map_file_range(MappedWindow& window, int fd, uint64_t size, uint64_t offset, size_t n);

// Drops the window.
void unmap_window(MappedWindow& window);

// Runs read(arg), which reads mapped bytes; false when some of them were
// no longer in the file, true otherwise. The function must not allocate,
// lock or hold anything that needs undoing: it is left by a jump when a
// read fails.
bool guarded_mapped_read(void (*read)(void* arg), void* arg);

}  // namespace varn
