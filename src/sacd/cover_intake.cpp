#include "sacd/cover_intake.h"

#include <cstdio>

#include "audio/open_input_file.h"
#include "platform/platform.h"

namespace varn {

static constexpr int64_t kCoverLimit = 16777216;

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

bool take_in_cover(const std::string& path, CoverFile& out) {
  FILE* f = open_input_file(path, "rb");
  if (!f) return false;
  int64_t n = platform_file_size(f);
  if (n < 1) {
    std::fclose(f);
    return false;
  }
  if (n > kCoverLimit) {
    std::fprintf(stderr,
                 "  [Cover] %s: %lld bytes exceeds the 16 MiB limit => **skipped** (the ISO will carry no cover)\n",
                 path.c_str(), static_cast<long long>(n));
    std::fclose(f);
    return false;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(n));
  size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  if (got != bytes.size()) {
    std::fprintf(stderr, "  [Cover] %s: read error (expected %lld, got %zu)\n", path.c_str(),
                 static_cast<long long>(n), got);
    return false;
  }
  // The extension is looked for in the file name only: a dot in a folder
  // name must not put a path into the volume's file name.
  std::string ext = ".JPG";
  const size_t slash = path.find_last_of("/\\");
  size_t dot = path.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    ext = path.substr(dot);
    for (char& c : ext)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  out.name = "COVER" + ext;
  out.bytes = std::move(bytes);
  std::printf("  [Cover] %s -> ISO:/%s (%lld bytes)\n", path.c_str(), out.name.c_str(),
              static_cast<long long>(n));
  int w = 0, h = 0;
  if (picture_size(out.bytes, w, h)) {
    if (w > 600 || h > 600) {
      std::printf("  [Cover] size %dx%d is large -- 300x300 recommended (600x600 max);\n"
                  "          larger covers (e.g. 1600x1200) do not show on some players (informational only, not blocking)\n",
                  w, h);
    } else if (w >= 300 && h >= 300) {
      std::printf("  [Cover] size %dx%d matches the recommendation (300x300 to 600x600)\n", w, h);
    } else {
      std::printf("  [Cover] size %dx%d is small -- 300x300 recommended (informational only)\n", w, h);
    }
  }
  return true;
}

}  // namespace varn
