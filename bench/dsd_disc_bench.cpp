// Time and peak memory of building a DSD Disc. The builder copies the input
// files as opaque bytes, so the inputs are pseudo-random files written in
// blocks (any size, including files of 4 GiB and more).
//   dsd_disc_bench [DIR] [TOTAL_MIB] [FILES]
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "dsddisc/dsd_disc.h"

namespace {

bool write_input(const std::string& path, uint64_t bytes, uint64_t seed) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::vector<uint64_t> block(1 << 17);  // 1 MiB
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  uint64_t left = bytes;
  while (left > 0) {
    for (uint64_t& v : block) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      v = x;
    }
    size_t n = left < block.size() * 8 ? size_t(left) : block.size() * 8;
    if (std::fwrite(block.data(), 1, n, f) != n) {
      std::fclose(f);
      return false;
    }
    left -= n;
  }
  return std::fclose(f) == 0;
}

// Peak resident set of this process in KiB.
long peak_rss_kib() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

void reset_peak_rss() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : ".";
  uint64_t total_mib = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024;
  unsigned files = argc > 3 ? unsigned(std::strtoul(argv[3], nullptr, 10)) : 8;
  if (files == 0) files = 1;

  varn::DsdDiscJob job;
  job.image_path = dir + "/dsd_disc_bench.iso";
  job.title = "Bench";
  uint64_t each = (total_mib << 20) / files + 12345;  // not a whole sector
  for (unsigned i = 0; i < files; ++i) {
    std::string path = dir + "/bench_" + std::to_string(i) + ".dsf";
    if (!write_input(path, each, i + 1)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
    job.tracks.push_back(varn::DsdDiscTrack{path, i % 2 ? "Second" : "First"});
  }

  reset_peak_rss();
  auto t0 = std::chrono::steady_clock::now();
  bool ok = !varn::build_dsd_disc(job);
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  double mib = double(each) * files / (1 << 20);
  std::printf("dsd_disc: %u files, %.1f MiB in %.2f s = %.0f MiB/s, peak RSS %ld KiB, %s\n", files,
              mib, s, mib / s, peak_rss_kib(), ok ? "ok" : "FAILED");
  if (!std::getenv("DSD_DISC_BENCH_KEEP")) {
    for (const varn::DsdDiscTrack& t : job.tracks) std::remove(t.source_path.c_str());
    std::remove(job.image_path.c_str());
  }
  return ok ? 0 : 1;
}
