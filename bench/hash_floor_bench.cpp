// What hashing an image while writing it can cost at best on this machine:
// SHA-256 speed on one core for one digest and for two digests of the same
// bytes (the image's and its track's), two threads hashing at once (do the
// two cores share one SHA unit?), and the cost of writing the bytes to a
// file in the page cache in batches of the packer's size.
//   hash_floor_bench [--mb N] [--dir D]   (default 340 MiB into /tmp)
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "manifest/sha256.h"
#include "platform/platform.h"

namespace {

// Batch size of the image writer: bytes hashed while they are still in the
// caches.
constexpr size_t kBatch = 512 * 1024;

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

double thread_cpu() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Hashes `bytes` bytes as batches of one buffer into one or two digests.
void hash_batches(const std::vector<uint8_t>& batch, uint64_t bytes, bool pair) {
  varn::Sha256 a, b;
  varn::sha256_init(a);
  varn::sha256_init(b);
  for (uint64_t done = 0; done < bytes; done += batch.size()) {
    if (pair) varn::sha256_update_pair(a, b, batch.data(), batch.size());
    else varn::sha256_update(a, batch.data(), batch.size());
  }
  uint8_t d[32];
  varn::sha256_final(a, d);
  varn::sha256_final(b, d);
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t mb = 340;
  std::string dir = "/tmp";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--mb" && i + 1 < argc) mb = std::strtoull(argv[++i], nullptr, 10);
    else if (a == "--dir" && i + 1 < argc) dir = argv[++i];
    else {
      std::fprintf(stderr, "usage: hash_floor_bench [--mb N] [--dir D]\n");
      return 1;
    }
  }
  const uint64_t bytes = (mb ? mb : 1) << 20;
  std::vector<uint8_t> batch(kBatch);
  for (size_t i = 0; i < batch.size(); ++i) batch[i] = uint8_t(i * 2654435761u >> 13);
  std::printf("%llu MiB in %zu KiB batches, SHA path: %s\n", (unsigned long long)(bytes >> 20), kBatch >> 10,
              varn::sha256_uses_hardware() ? "SHA instructions" : "scalar");

  const auto report = [&](const char* what, double wall, double cpu) {
    std::printf("%-34s %7.3f s wall %7.3f s CPU %8.0f MB/s\n", what, wall, cpu, double(bytes) / 1e6 / wall);
  };
  for (int pair = 0; pair < 2; ++pair) {
    double best = 1e9, cpu = 0;
    for (int r = 0; r < 3; ++r) {
      const double t0 = now(), c0 = thread_cpu();
      hash_batches(batch, bytes, pair);
      const double wall = now() - t0, used = thread_cpu() - c0;
      if (wall < best) best = wall, cpu = used;
    }
    report(pair ? "two digests, one pass, one core" : "one digest, one core", best, cpu);
  }
  {
    double best = 1e9;
    for (int r = 0; r < 3; ++r) {
      const double t0 = now();
      std::vector<uint8_t> other = batch;
      std::thread t([&] { hash_batches(other, bytes, false); });
      hash_batches(batch, bytes, false);
      t.join();
      best = std::min(best, now() - t0);
    }
    report("one digest on each of two threads", best, 0);
  }
  {
    const std::string path = dir + "/varn_hash_floor_" + std::to_string(long(getpid())) + ".bin";
    double best = 1e9, cpu = 0;
    for (int r = 0; r < 3; ++r) {
      std::remove(path.c_str());
      const double t0 = now(), c0 = thread_cpu();
      FILE* f = varn::platform_fopen(path, "wb");
      if (!f) return 1;
      std::setvbuf(f, nullptr, _IONBF, 0);
      for (uint64_t done = 0; done < bytes; done += batch.size()) std::fwrite(batch.data(), 1, batch.size(), f);
      std::fclose(f);
      const double wall = now() - t0, used = thread_cpu() - c0;
      if (wall < best) best = wall, cpu = used;
    }
    std::remove(path.c_str());
    report("write to a new file (page cache)", best, cpu);
  }
  return 0;
}
