#include "platform/small_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace varn {

namespace {

bool refuse(SmallFile& out, SmallFileError e, std::string why) {
  out.bytes.clear();
  out.error = e;
  out.why = std::move(why);
  return false;
}

// Opens a regular file for reading; -1 with the reason otherwise.
int open_regular(const std::string& path, struct stat& st, SmallFileError& error, std::string& why) {
  if (path.empty()) {
    error = SmallFileError::CannotOpen;
    why = "no file name";
    return -1;
  }
  // Non-blocking, so that opening a FIFO returns at once; the type is then
  // taken from the open descriptor itself.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    error = SmallFileError::CannotOpen;
    why = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    error = SmallFileError::NotRegular;
    why = S_ISDIR(st.st_mode) ? "a directory, not a file" : "not a regular file";
    return -1;
  }
  return fd;
}

}  // namespace

bool probe_regular_file(const std::string& path, uint64_t& size, std::string& why) {
  struct stat st {};
  SmallFileError error;
  const int fd = open_regular(path, st, error, why);
  if (fd < 0) return false;
  ::close(fd);
  size = uint64_t(st.st_size);
  return true;
}

bool read_small_file(const std::string& path, uint64_t limit, SmallFile& out) {
  out = SmallFile{};
  struct stat st {};
  const int fd = open_regular(path, st, out.error, out.why);
  if (fd < 0) return false;
  out.size = uint64_t(st.st_size);
  if (out.size == 0) {
    ::close(fd);
    return refuse(out, SmallFileError::Empty, "the file is empty");
  }
  if (out.size > limit) {
    ::close(fd);
    return refuse(out, SmallFileError::TooLarge,
                  std::to_string(out.size) + " bytes, more than the limit of " +
                      std::to_string(limit) + " bytes");
  }
  // One byte more than the size: a file that grew meanwhile is noticed.
  std::string bytes(size_t(out.size) + 1, '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, &bytes[got], bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int e = errno;
      ::close(fd);
      return refuse(out, SmallFileError::ReadError, std::strerror(e));
    }
    if (n == 0) break;
    got += size_t(n);
  }
  ::close(fd);
  if (got != out.size)
    return refuse(out, SmallFileError::ReadError,
                  "read error (expected " + std::to_string(out.size) + " bytes, got " +
                      std::to_string(got) + ")");
  bytes.resize(got);
  out.bytes = std::move(bytes);
  return true;
}

bool write_small_file(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fflush(f) == 0;
  const int error = errno;
  if (std::fclose(f) != 0 && ok) return false;
  errno = error;
  return ok;
}

}  // namespace varn
