#include "sacd/cover_intake.h"

#include <algorithm>
#include <cstdio>

#include "platform/small_file.h"
#include "platform/report.h"

namespace varn {

bool picture_size(const std::vector<uint8_t>& d, int& width, int& height) {
  auto be32 = [&](size_t i) {
    return (uint32_t(d[i]) << 24) | (uint32_t(d[i + 1]) << 16) | (uint32_t(d[i + 2]) << 8) | d[i + 3];
  };
  auto be16 = [&](size_t i) { return static_cast<int>((d[i] << 8) | d[i + 1]); };
  if (d.size() >= 25 && d[0] == 0x89 && d[1] == 'P' && d[2] == 'N' && d[3] == 'G') {
    width = static_cast<int>(be32(16));
    height = static_cast<int>(be32(20));
    return true;
  }
  if (d.size() >= 12 && d[0] == 0xFF && d[1] == 0xD8) {
    size_t i = 2;
    while (i + 10 < d.size()) {
      if (d[i] != 0xFF) {
        ++i;
        continue;
      }
      uint8_t m = d[i + 1];
      if ((m >= 0xD0 && m <= 0xD8) || m == 0x01) {
        i += 2;
        continue;
      }
      if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
        height = be16(i + 5);
        width = be16(i + 7);
        return true;
      }
      i += 2 + static_cast<size_t>(be16(i + 2));
    }
  }
  return false;
}

std::string cover_name_for(const std::vector<uint8_t>& d) {
  static const uint8_t png[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (d.size() >= 4 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return "COVER.JPG";
  if (d.size() >= 8 && std::equal(png, png + 8, d.begin())) return "COVER.PNG";
  return std::string();
}

bool read_cover(const std::string& path, CoverFile& out, std::string& why) {
  SmallFile file;
  if (!read_small_file(path, kCoverLimit, file)) {
    why = file.error == SmallFileError::TooLarge
              ? std::to_string(file.size) + " bytes exceeds the 16 MiB limit"
              : file.why;
    return false;
  }
  out.bytes.assign(file.bytes.begin(), file.bytes.end());
  // The name follows the content, whatever the file is called.
  out.name = cover_name_for(out.bytes);
  if (out.name.empty()) {
    why = "neither a JPEG nor a PNG picture";
    return false;
  }
  return true;
}

Status take_in_cover(const std::string& path, CoverFile& out) {
  std::string why;
  if (!read_cover(path, out, why))
    return make_error("  [Cover] %s: %s => the cover cannot be used\n", path.c_str(), why.c_str());
  const long long n = static_cast<long long>(out.bytes.size());
  report_note("  [Cover] %s -> ISO:/%s (%lld bytes)\n", path.c_str(), out.name.c_str(), n);
  int w = 0, h = 0;
  if (picture_size(out.bytes, w, h)) {
    if (w > 600 || h > 600) {
      report_note("  [Cover] size %dx%d is large -- 300x300 recommended (600x600 max);\n"
                  "          larger covers (e.g. 1600x1200) do not show on some players (informational only, not blocking)\n",
                  w, h);
    } else if (w >= 300 && h >= 300) {
      report_note("  [Cover] size %dx%d matches the recommendation (300x300 to 600x600)\n", w, h);
    } else {
      report_note("  [Cover] size %dx%d is small -- 300x300 recommended (informational only)\n", w, h);
    }
  }
  return std::nullopt;
}

}  // namespace varn
