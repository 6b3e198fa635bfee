#include "sacd/capacity_report.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/text_format.h"

namespace varn {

static unsigned long long limit_from_env(const char* name, unsigned long long fallback) {
  const char* v = std::getenv(name);
  if (!v || !*v) return fallback;
  char* end = nullptr;
  errno = 0;
  unsigned long long n = std::strtoull(v, &end, 10);
  if (end == v || errno == ERANGE || *v == '-' || n == 0) return fallback;
  return n;
}

std::string capacity_report_text(uint64_t image_bytes) {
  const unsigned long long single = limit_from_env("VARN_DVD_CAP_BYTES", 4700372992ULL);
  const unsigned long long dual = limit_from_env("VARN_DVD9_CAP_BYTES", 8547991552ULL);
  const unsigned long long bytes = static_cast<unsigned long long>(image_bytes);
  const double gb = static_cast<double>(bytes) / 1e9;
  std::string text;
  if (bytes > dual) {
    append_format(text,
                  "  [Capacity] output %.2f GB -- exceeds dual-layer DVD-9 (8.5G), cannot burn to one DVD;\n"
                  "        keep fewer tracks, or keep only one area (stereo / multi-channel).\n",
                  gb);
  } else if (bytes > single) {
    append_format(text,
                  "  [Capacity] output %.2f GB -- exceeds single-layer DVD-R (4.7G), needs DVD-9 or BD;\n"
                  "        to fit a DVD-R add --dst-stereo (also DST-compress the stereo area), or keep only one "
                  "area.\n",
                  gb);
  } else {
    append_format(text, "  [Capacity] output %.2f GB -- fits a single-layer DVD-R (4.7G)\n", gb);
  }
  return text;
}

}  // namespace varn
