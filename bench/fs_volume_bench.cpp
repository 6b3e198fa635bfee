// Time to plan and serialise the ISO 9660 and UDF volumes of an SACD-like
// tree (two areas of 255 tracks, cover and album text embedded) over about
// 4.4 GB: every structure's bytes, nothing written.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "fs/iso9660_volume.h"
#include "fs/udf_volume.h"

int main() {
  const uint32_t blocks = 2150000;
  const int rounds = 5;
  double iso_ms = 0, udf_ms = 0;
  size_t bytes = 0;
  for (int r = 0; r < rounds; ++r) {
    std::vector<varn::IsoFileEntry> files(2);
    files[0].path = "COVER.JPG";
    files[0].content.assign(300000, 0xAB);
    files[1].path = "SRM0.LST";
    files[1].content.assign(4000, 'x');
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
    varn::ReportLines notes;
    auto t0 = std::chrono::steady_clock::now();
    varn::IsoVolume iso;
    if (!varn::plan_iso9660_volume(files, blocks, "DISC1", {289, 510, 0}, iso, notes)) return 1;
    for (const varn::SectorRun& run : varn::iso_volume_runs(iso)) bytes += run.bytes.size();
    auto t1 = std::chrono::steady_clock::now();
    std::vector<varn::UdfFileEntry> udf;
    for (const varn::IsoFileEntry& f : iso.files) {
      varn::UdfFileEntry e;
      size_t slash = f.path.rfind('/');
      e.name = slash == std::string::npos ? f.path : f.path.substr(slash + 1);
      e.dir_path = slash == std::string::npos ? "" : f.path.substr(0, slash);
      e.lsn = f.lsn;
      e.size = f.content.empty() ? f.size : f.content.size();
      udf.push_back(e);
    }
    varn::UdfVolume volume;
    if (!varn::plan_udf_volume(udf, 257, blocks, "Bench Album", volume, notes)) return 1;
    for (const varn::SectorRun& run : varn::udf_volume_runs(volume)) bytes += run.bytes.size();
    auto t2 = std::chrono::steady_clock::now();
    iso_ms += std::chrono::duration<double, std::milli>(t1 - t0).count();
    udf_ms += std::chrono::duration<double, std::milli>(t2 - t1).count();
  }
  std::printf("fs volumes, 512 files on %u blocks: ISO 9660 %.2f ms, UDF %.2f ms (mean of %d, %zu bytes)\n", blocks,
              iso_ms / rounds, udf_ms / rounds, rounds, bytes / rounds);
  return 0;
}
