#include "platform/platform.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <thread>
#include <vector>

namespace varn {

FILE* platform_fopen(const std::string& path, const char* mode) {
  if (path.empty()) return nullptr;
  return std::fopen(path.c_str(), mode);
}

// "wb" would truncate even an empty file, and ext4 takes a truncated file
// for one being replaced in place: it then starts writing the whole file
// out to the disk in close(), on the caller's time (0.14 s for a 370 MB
// image, half as long as writing it). The staged outputs are new and
// empty, so they are opened without truncating.
FILE* platform_fopen_write(const std::string& path) {
  if (path.empty()) return nullptr;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat st {};
  FILE* f = nullptr;
  if (::fstat(fd, &st) == 0 && (st.st_size == 0 || ::ftruncate(fd, 0) == 0)) f = ::fdopen(fd, "wb");
  if (!f) {
    const int error = errno;
    ::close(fd);
    errno = error;
  }
  return f;
}

int platform_fseek64(FILE* f, int64_t offset, int whence) {
  return fseeko(f, static_cast<off_t>(offset), whence) == 0 ? 0 : -1;
}

int64_t platform_ftell64(FILE* f) { return static_cast<int64_t>(ftello(f)); }

int64_t platform_file_size(FILE* f) {
  int64_t pos = platform_ftell64(f);
  if (pos < 0 || platform_fseek64(f, 0, SEEK_END) != 0) return -1;
  int64_t size = platform_ftell64(f);
  platform_fseek64(f, pos, SEEK_SET);
  return size;
}

bool platform_is_directory(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool platform_stdin_is_tty() { return ::isatty(0) == 1; }
bool platform_stderr_is_tty() { return ::isatty(2) == 1; }

unsigned platform_stderr_columns() {
  struct winsize size {};
  return ::ioctl(2, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

const char* platform_temp_dir() {
  static char buffer[512];
  static bool filled = false;
  if (!filled) {
    const char* v = std::getenv("TEMP");
    if (!v || !*v) v = std::getenv("TMP");
    if (!v || !*v) v = ".";
    std::snprintf(buffer, sizeof buffer, "%s", v);
    filled = true;
  }
  return buffer;
}

int platform_make_unique_file(char* pattern) {
  if (!pattern) {
    errno = EINVAL;
    return -1;
  }
  // The last one: the folder part of the pattern may hold one too.
  char* x = nullptr;
  for (char* at = std::strstr(pattern, "XXXXXX"); at; at = std::strstr(at + 1, "XXXXXX")) x = at;
  if (!x) {
    errno = EINVAL;
    return -1;
  }
  static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device rd;
  std::mt19937 rng(rd());
  for (uint32_t attempt = 1; attempt <= 4096; ++attempt) {
    uint32_t ticks = static_cast<uint32_t>(
        std::chrono::steady_clock::now().time_since_epoch().count() / 1000000);
    uint32_t v = (ticks * attempt) ^ static_cast<uint32_t>(rng());
    for (int i = 0; i < 6; ++i) {
      x[i] = alphabet[v % 36];
      v /= 36;
    }
    int fd = ::open(pattern, O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) return fd;
    // Any failure but a taken name (a missing folder, no right to write)
    // is the caller's to report as it is.
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

int platform_close_fd(int fd) { return ::close(fd); }

FILE* platform_nameless_temp_file() {
  std::string pattern = std::string(platform_temp_dir()) + "/VarnPack_spool_XXXXXX";
  const int fd = platform_make_unique_file(pattern.data());
  if (fd < 0) return nullptr;
  ::unlink(pattern.c_str());
  FILE* f = ::fdopen(fd, "w+b");
  if (!f) {
    const int error = errno;
    ::close(fd);
    errno = error;
  }
  return f;
}

void platform_set_console_utf8() {}

void platform_reattach_std_handles() {}

unsigned platform_hardware_threads() { return std::thread::hardware_concurrency(); }

bool source_date_epoch(int64_t& seconds) {
  const char* v = std::getenv("SOURCE_DATE_EPOCH");
  if (!v || !*v) return false;
  errno = 0;
  char* end = nullptr;
  long long n = std::strtoll(v, &end, 10);
  if (end == v || errno == ERANGE || n < 0) return false;
  seconds = n;
  return true;
}

int64_t volume_time() {
  int64_t t;
  if (source_date_epoch(t)) return t;
  return static_cast<int64_t>(std::time(nullptr));
}

static CivilTime from_tm(const std::tm& tm) {
  CivilTime c;
  c.year = tm.tm_year + 1900;
  c.month = tm.tm_mon + 1;
  c.day = tm.tm_mday;
  c.hour = tm.tm_hour;
  c.minute = tm.tm_min;
  c.second = tm.tm_sec;
  return c;
}

CivilTime civil_time_utc(int64_t t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm {};
  if (!gmtime_r(&tt, &tm)) return CivilTime{};
  return from_tm(tm);
}

CivilTime civil_time_local(int64_t t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm {};
  if (!localtime_r(&tt, &tm)) return CivilTime{};
  return from_tm(tm);
}

bool platform_convert(const std::string& in, const char* from_charset,
                      const char* to_charset, std::string& out) {
  // //TRANSLIT would pick look-alikes; the Windows converters write '?'
  // instead, which we do by hand below on EILSEQ from the target side.
  iconv_t cd = iconv_open(to_charset, from_charset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  // Decode to UCS-4 first so that an unrepresentable character can be
  // replaced as a whole; a second converter writes the target.
  iconv_close(cd);
  iconv_t dec = iconv_open("UCS-4BE", from_charset);
  iconv_t enc = iconv_open(to_charset, "UCS-4BE");
  if (dec == reinterpret_cast<iconv_t>(-1) || enc == reinterpret_cast<iconv_t>(-1)) {
    if (dec != reinterpret_cast<iconv_t>(-1)) iconv_close(dec);
    if (enc != reinterpret_cast<iconv_t>(-1)) iconv_close(enc);
    return false;
  }
  std::vector<char> ucs(in.size() * 4 + 16);
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = ucs.data();
  size_t dst_left = ucs.size();
  bool ok = iconv(dec, &src, &src_left, &dst, &dst_left) != static_cast<size_t>(-1);
  iconv_close(dec);
  if (!ok) {
    iconv_close(enc);
    return false;
  }
  size_t ucs_len = ucs.size() - dst_left;
  out.clear();
  char buf[16];
  for (size_t i = 0; i + 4 <= ucs_len; i += 4) {
    char* s = ucs.data() + i;
    size_t s_left = 4;
    char* d = buf;
    size_t d_left = sizeof buf;
    if (iconv(enc, &s, &s_left, &d, &d_left) == static_cast<size_t>(-1)) {
      iconv(enc, nullptr, nullptr, nullptr, nullptr);
      out.push_back('?');
    } else {
      out.append(buf, sizeof buf - d_left);
    }
  }
  // Flush any shift state of stateful encodings.
  char* d = buf;
  size_t d_left = sizeof buf;
  iconv(enc, nullptr, nullptr, &d, &d_left);
  out.append(buf, sizeof buf - d_left);
  iconv_close(enc);
  return true;
}

}  // namespace varn
