// Time to write the ISO 9660 and UDF volumes of an SACD-like tree (two
// areas of 255 tracks, cover and album text embedded) onto a sparse image
// of about 4.4 GB.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "fs/iso9660.h"
#include "fs/udf.h"

int main(int argc, char** argv) {
  std::string img = argc > 1 ? argv[1] : "fs_volume_bench.iso";
  const uint32_t blocks = 2150000;
  const int rounds = 5;
  double iso_ms = 0, udf_ms = 0;
  for (int r = 0; r < rounds; ++r) {
    int fd = ::open(img.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0644);
    if (fd < 0 || ::ftruncate(fd, off_t(blocks) * 2048) != 0) {
      std::fprintf(stderr, "cannot create %s\n", img.c_str());
      return 1;
    }
    ::close(fd);
    std::vector<varn::IsoFileEntry> files;
    varn::IsoFileEntry cover;
    cover.path = "COVER.JPG";
    cover.content.assign(300000, 0xAB);
    files.push_back(cover);
    varn::IsoFileEntry srm;
    srm.path = "SRM0.LST";
    srm.content.assign(4000, 'x');
    files.push_back(srm);
    uint32_t lsn = 550;
    for (const char* ext : {"2CH", "MCH"}) {
      for (int t = 1; t <= 255; ++t) {
        char name[64];
        std::snprintf(name, sizeof name, "2C_AUDIO/TRACK%03d.%s", t, ext);
        varn::IsoFileEntry e;
        e.path = name;
        e.lsn = lsn;
        e.size = 4000ull * 2048;
        lsn += 4000;
        files.push_back(e);
      }
    }
    auto t0 = std::chrono::steady_clock::now();
    if (!varn::write_iso9660_volume(img, blocks, files, "DISC1", {289, 510, 0})) return 1;
    auto t1 = std::chrono::steady_clock::now();
    std::vector<varn::UdfFileEntry> udf;
    for (const varn::IsoFileEntry& f : files) {
      varn::UdfFileEntry e;
      size_t slash = f.path.rfind('/');
      e.name = slash == std::string::npos ? f.path : f.path.substr(slash + 1);
      e.dir_path = slash == std::string::npos ? "" : f.path.substr(0, slash);
      e.lsn = f.lsn;
      e.size = f.content.empty() ? f.size : f.content.size();
      udf.push_back(e);
    }
    std::FILE* keep = std::freopen("/dev/null", "w", stderr);
    (void)keep;
    if (!varn::write_udf_volume(img, udf, 257, blocks, "Bench Album")) return 1;
    auto t2 = std::chrono::steady_clock::now();
    iso_ms += std::chrono::duration<double, std::milli>(t1 - t0).count();
    udf_ms += std::chrono::duration<double, std::milli>(t2 - t1).count();
  }
  ::unlink(img.c_str());
  std::printf("fs volumes, 512 files on %u blocks: ISO 9660 %.2f ms, UDF %.2f ms (mean of %d)\n",
              blocks, iso_ms / rounds, udf_ms / rounds, rounds);
  return 0;
}
