// Whole reads of small side files (a cover picture, a CUE sheet), safe
// against names that are no regular file: a FIFO that would block, a
// device that never ends, a directory; and whole writes of small files.
#pragma once

#include <cstdint>
#include <string>

namespace varn {

enum class SmallFileError { None, CannotOpen, NotRegular, Empty, TooLarge, ReadError };

struct SmallFile {
  std::string bytes;
  uint64_t size = 0;  // the file's size (also when it is refused as too large)
  SmallFileError error = SmallFileError::None;
  std::string why;  // the reason in words, when refused
};

// Checks that `path` names a regular file that can be opened for reading,
// without reading from it (a FIFO is refused, not waited for). Fills
// `size`; false with the reason in `why`.
bool probe_regular_file(const std::string& path, uint64_t& size, std::string& why);

// Reads the regular file at `path` (UTF-8 name, links followed) whole when
// it holds 1 to `limit` bytes. Anything else is refused before a byte is
// read. False with `error` and `why` set.
bool read_small_file(const std::string& path, uint64_t limit, SmallFile& out);

// Writes `bytes` as the whole content of `path` (made or emptied first);
// every write, the flush and the close are checked. False with errno
// saying why.
bool write_small_file(const std::string& path, const std::string& bytes);

}  // namespace varn
