// SHA-256 speed of sha256_file_range against sha256sum on the same file.
//   sha256_bench [--mb N] [--sparse] [--dir D] [--scalar]
// Writes an N MiB file (default 2048, filled with pseudo-random bytes, or a
// sparse file with --sparse), reads it once to warm the page cache, then
// times sha256sum and our file-range hash over the whole file, checks that
// the digests agree and prints both speeds and their ratio. The file is
// removed at the end.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "manifest/sha256.h"
#include "platform/platform.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

bool make_file(const std::string& path, uint64_t bytes, bool sparse) {
  FILE* f = varn::platform_fopen(path, "wb");
  if (!f) return false;
  bool ok = true;
  if (sparse) {
    ok = varn::platform_fseek64(f, static_cast<int64_t>(bytes) - 1, SEEK_SET) == 0 && std::fputc(0, f) != EOF;
  } else {
    std::vector<uint8_t> chunk(1 << 20);
    std::mt19937_64 gen(12345);
    for (uint64_t done = 0; ok && done < bytes; done += chunk.size()) {
      for (size_t i = 0; i < chunk.size(); i += 8) {
        const uint64_t v = gen();
        std::memcpy(chunk.data() + i, &v, 8);
      }
      ok = std::fwrite(chunk.data(), 1, chunk.size(), f) == chunk.size();
    }
  }
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t mb = 2048;
  bool sparse = false, scalar = false;
  std::string dir = "/tmp";
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--mb" && i + 1 < argc) mb = std::strtoull(argv[++i], nullptr, 10);
    else if (a == "--dir" && i + 1 < argc) dir = argv[++i];
    else if (a == "--sparse") sparse = true;
    else if (a == "--scalar") scalar = true;
    else {
      std::fprintf(stderr, "usage: sha256_bench [--mb N] [--sparse] [--dir D] [--scalar]\n");
      return 1;
    }
  }
  if (mb == 0) mb = 1;
  const uint64_t bytes = mb << 20;
  const std::string path = dir + "/varn_sha256_bench_" + std::to_string(static_cast<long>(getpid())) + ".bin";
  std::printf("file: %s, %llu MiB (%s)\n", path.c_str(), static_cast<unsigned long long>(mb),
              sparse ? "sparse" : "filled");
  if (!make_file(path, bytes, sparse)) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::remove(path.c_str());
    return 1;
  }
  int rc = 0;
  varn::sha256_force_scalar(scalar);
  std::printf("our path: %s\n", varn::sha256_uses_hardware() ? "SHA instructions" : "scalar");

  // Warm the page cache so that both tools read from memory.
  {
    FILE* f = varn::platform_fopen(path, "rb");
    std::vector<char> buf(1 << 20);
    while (f && std::fread(buf.data(), 1, buf.size(), f) > 0) {
    }
    if (f) std::fclose(f);
  }

  auto t0 = std::chrono::steady_clock::now();
  std::string cmd = "sha256sum '" + path + "'";
  FILE* p = popen(cmd.c_str(), "r");
  char line[256] = {0};
  if (!p || !std::fgets(line, sizeof line, p)) rc = 1;
  if (p) pclose(p);
  const double t_peer = seconds_since(t0);
  const std::string peer_digest(line, strnlen(line, 64));

  t0 = std::chrono::steady_clock::now();
  FILE* f = varn::platform_fopen(path, "rb");
  std::string ours;
  if (!f || !varn::sha256_file_range(f, 0, bytes, ours)) rc = 1;
  if (f) std::fclose(f);
  const double t_ours = seconds_since(t0);
  std::remove(path.c_str());

  const double mib = static_cast<double>(mb);
  std::printf("sha256sum:          %.3f s  %8.1f MiB/s  %s\n", t_peer, mib / t_peer, peer_digest.c_str());
  std::printf("sha256_file_range:  %.3f s  %8.1f MiB/s  %s\n", t_ours, mib / t_ours, ours.c_str());
  std::printf("speed ratio (ours / sha256sum): %.2fx\n", t_peer / t_ours);
  if (ours != peer_digest) {
    std::fprintf(stderr, "digests differ\n");
    rc = 1;
  }
  return rc;
}
