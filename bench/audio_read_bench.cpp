// Reading speed and peak memory of the audio readers on one large file.
//   audio_read_bench [--mb N] [--channels C] [--format dsf|dsf0|dsfmsb|dff] [--dir D] [--keep]
// Writes the file (a repeated modulator period), reads it once through the
// page cache with plain fread for reference, then through the reader.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/dsdiff_reader.h"
#include "audio/bit_reverse.h"
#include "audio/deblock.h"
#include "audio/dsf_reader.h"
#include "dsdgen/dsdgen.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

long peak_rss_mb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t mb = 1024;
  uint32_t channels = 2;
  std::string format = "dsf", dir = "/tmp";
  bool keep = false;
  std::string read_only;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--read" && i + 1 < argc) read_only = argv[++i];
    else if (a == "--mb" && i + 1 < argc) mb = std::strtoull(argv[++i], nullptr, 10);
    else if (a == "--channels" && i + 1 < argc) channels = uint32_t(std::atoi(argv[++i]));
    else if (a == "--format" && i + 1 < argc) format = argv[++i];
    else if (a == "--dir" && i + 1 < argc) dir = argv[++i];
    else if (a == "--keep") keep = true;
    else {
      std::fprintf(stderr, "usage: %s [--mb N] [--channels C] [--format dsf|dsf0|dsfmsb|dff] [--dir D] [--keep]\n", argv[0]);
      return 2;
    }
  }
  if (!read_only.empty()) {
    // A fresh process, so that its peak memory is the reader's own.
    const bool dff = read_only.size() > 4 && read_only.compare(read_only.size() - 4, 4, ".dff") == 0;
    uint64_t total = 0;
    auto t0 = std::chrono::steady_clock::now();
    {
      FILE* f = std::fopen(read_only.c_str(), "rb");
      if (!f) return 1;
      std::vector<char> buf(1 << 20);
      size_t n;
      while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) total += n;
      std::fclose(f);
    }
    const double raw = seconds_since(t0);
    const long rss_before = peak_rss_mb();
    varn::InputTrack t;
    t0 = std::chrono::steady_clock::now();
    const bool ok = !(dff ? varn::read_dsdiff(read_only, t) : varn::read_dsf(read_only, t));
    const double read = seconds_since(t0);
    const double size_mb = double(total) / (1024.0 * 1024.0);
    std::printf("%.0f MB file: fread %.2f s (%.0f MB/s), reader %.2f s (%.0f MB/s) %s\n", size_mb,
                raw, size_mb / raw, read, size_mb / read, ok ? "ok" : "FAILED");
    std::printf("peak RSS %ld MB (%ld MB before reading), audio %zu MB\n", peak_rss_mb(),
                rss_before, t.audio.size() >> 20);
    return ok ? 0 : 1;
  }
  const uint32_t rate = 2822400;
  const std::string path = dir + "/audio_read_bench." + (format == "dff" ? "dff" : "dsf");
  {
    dsdgen::SignalOptions o;
    o.channels = channels;
    o.sample_rate = rate;
    o.samples = mb * 1024 * 1024 / channels * 8;
    std::vector<uint8_t> payload = dsdgen::generate_repeated(o, 4704 * 4);
    bool ok;
    if (format == "dff") {
      ok = dsdgen::write_dsdiff(path, channels, rate, payload, {});
    } else {
      dsdgen::DsfOptions d;
      d.block_size = format == "dsf0" ? 0 : 4096;
      d.lsb_first = format != "dsfmsb";
      ok = dsdgen::write_dsf(path, channels, rate, payload, d);
    }
    if (!ok) return 1;
  }
  {
    // The interleaving loop alone, on memory that is already mapped.
    const size_t n = 64u << 20, block = 4096;
    std::vector<uint8_t> src(n * channels, 0x5A), dst(n * channels, 0);
    const uint8_t* table = varn::bit_reverse_table();
    auto t0 = std::chrono::steady_clock::now();
    for (size_t k = 0; k < n; k += block)
      varn::weave_channels(src.data() + k * channels, block, block, channels, table, dst.data() + k * channels);
    const double s = seconds_since(t0);
    std::printf("interleave %uch, bit-reversed: %.0f MB/s\n", channels, double(src.size()) / s / 1048576.0);
    // The first touch of fresh memory, which every reader pays for its payload.
    t0 = std::chrono::steady_clock::now();
    std::vector<uint8_t> fresh(size_t(mb) << 20);
    std::printf("first touch of %llu MB of fresh memory: %.2f s\n", (unsigned long long)mb, seconds_since(t0));
  }
  std::printf("%s %uch:\n", format.c_str(), channels);
  std::fflush(stdout);
  const std::string cmd = std::string("'") + argv[0] + "' --read '" + path + "' > /dev/null 2>&1; '" +
                          argv[0] + "' --read '" + path + "' 2>/dev/null | grep -v '^  '";
  const int rc = std::system(cmd.c_str());
  if (!keep) std::remove(path.c_str());
  return rc == 0 ? 0 : 1;
}
