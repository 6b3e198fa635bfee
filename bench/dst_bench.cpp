// DST encoding speed and compression on DSD64 from dsdgen, optionally side
// by side with another build of this benchmark (an older encoder).
//
//   dst_bench [--seconds S] [--threads N] [--repeat R] [--order P] [--no-simd]
//             [--kind music|noise|tone|chirp|silence] [--amplitude A]
//             [--only 6ch|stereo] [--baseline PATH]
//
// Cases: 6-channel at prediction order 128 and stereo at order 128 (what
// --dst-stereo codes). Every measurement runs in a child process, so that
// each has its own peak RSS; with --baseline the children alternate
// between this binary and PATH, and the best of R runs of each is kept.
// Per case and encoder it prints the real-time factor (audio seconds per
// wall second), audio seconds per processor second (all threads; steadier
// than wall time on a busy machine), DST bytes per second of audio, the
// compression ratio (plain / DST), peak RSS and the SHA-256 of the frame
// list, then the speed ratios and whether both encoders gave the same
// frames.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dsdgen/dsdgen.h"
#include "dst/dst_encoder.h"
#include "dst/dst_kernel.h"
#include "dst/dst_parallel.h"
#include "manifest/sha256.h"

namespace {

struct Options {
  double seconds = 2.0;
  int threads = 2;
  int repeat = 3;
  int order = 128;
  bool simd = true;
  double amplitude = dsdgen::SignalOptions{}.amplitude;
  std::string kind = "music";
  std::string only;
  std::string baseline;
};

struct Measure {
  bool ok = false;
  double seconds = 0;   // wall time of the encoding
  double cpu = 0;       // processor time of the encoding, all threads
  double audio = 0;     // audio seconds encoded
  double dst_bytes = 0;
  double plain_bytes = 0;
  long rss_kb = 0;
  std::string sha;
};

double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

bool signal_kind(const std::string& name, dsdgen::SignalKind& kind) {
  static const struct {
    const char* name;
    dsdgen::SignalKind kind;
  } kinds[] = {{"music", dsdgen::SignalKind::Music},
               {"noise", dsdgen::SignalKind::Noise},
               {"tone", dsdgen::SignalKind::Tone},
               {"chirp", dsdgen::SignalKind::Chirp},
               {"silence", dsdgen::SignalKind::Silence}};
  for (const auto& k : kinds)
    if (name == k.name) {
      kind = k.kind;
      return true;
    }
  return false;
}

// The child's side: encode one case and print what the parent reads.
int run_child(const Options& o, int channels) {
  dsdgen::SignalOptions s;
  signal_kind(o.kind, s.kind);
  s.channels = static_cast<uint32_t>(channels);
  s.sample_rate = 2822400;
  s.samples = static_cast<uint64_t>(o.seconds * 75.0) * 37632;
  s.amplitude = o.amplitude;
  const std::vector<uint8_t> audio = dsdgen::generate(s);
  varn::set_simd_enabled(o.simd);
  const double c0 = cpu_seconds();
  const auto t0 = std::chrono::steady_clock::now();
  const std::vector<varn::DstFrame> frames =
      varn::dst_encode_track(audio.data(), audio.size(), channels, 64, 44100, o.order, o.threads);
  const auto t1 = std::chrono::steady_clock::now();
  const double c1 = cpu_seconds();
  varn::Sha256 h;
  varn::sha256_init(h);
  size_t bytes = 0;
  for (const varn::DstFrame& f : frames) {
    const uint32_t n = static_cast<uint32_t>(f.size());
    varn::sha256_update(h, &n, 4);
    varn::sha256_update(h, f.data(), f.size());
    bytes += f.size();
  }
  uint8_t digest[32];
  varn::sha256_final(h, digest);
  std::printf("%.6f %.6f %.4f %zu %zu %s\n", std::chrono::duration<double>(t1 - t0).count(), c1 - c0,
              static_cast<double>(frames.size()) / 75.0, bytes, audio.size(), varn::sha256_hex(digest).c_str());
  return frames.empty() ? 1 : 0;
}

std::vector<std::string> child_args(const Options& o, const std::string& binary, const char* which) {
  std::vector<std::string> a = {binary,      "--child",      which,
                                "--seconds", std::to_string(o.seconds), "--threads",
                                std::to_string(o.threads), "--order", std::to_string(o.order),
                                "--kind",    o.kind,        "--amplitude",
                                std::to_string(o.amplitude)};
  if (!o.simd) a.push_back("--no-simd");
  return a;
}

Measure measure(const std::vector<std::string>& args) {
  Measure m;
  int fd[2];
  if (pipe(fd) != 0) return m;
  const pid_t pid = fork();
  if (pid < 0) return m;
  if (pid == 0) {
    dup2(fd[1], 1);
    close(fd[0]);
    close(fd[1]);
    const int null = open("/dev/null", O_WRONLY);  // the encoder's frames-encoded line
    if (null >= 0) dup2(null, 2);
    std::vector<char*> argv;
    for (const std::string& s : args) argv.push_back(const_cast<char*>(s.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fd[1]);
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = read(fd[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(fd[0]);
  int status = 0;
  rusage ru{};
  if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return m;
  char sha[65] = {};
  if (std::sscanf(out.c_str(), "%lf %lf %lf %lf %lf %64s", &m.seconds, &m.cpu, &m.audio, &m.dst_bytes,
                  &m.plain_bytes, sha) != 6)
    return m;
  m.sha = sha;
  m.rss_kb = ru.ru_maxrss;
  m.ok = true;
  return m;
}

// Keeps the shortest wall and processor times (each over all runs) and
// the largest peak RSS.
void keep_best(Measure& best, const Measure& m) {
  if (!m.ok) return;
  if (!best.ok) {
    best = m;
    return;
  }
  best.seconds = std::min(best.seconds, m.seconds);
  best.cpu = std::min(best.cpu, m.cpu);
  best.rss_kb = std::max(best.rss_kb, m.rss_kb);
}

void print_row(const char* label, const char* encoder, const Measure& m) {
  if (!m.ok) {
    std::printf("%-7s %-9s failed\n", label, encoder);
    return;
  }
  std::printf("%-7s %-9s %9.2fx %9.2fx %12.0f %7.3f %9ld  %.16s\n", label, encoder, m.audio / m.seconds,
              m.audio / m.cpu, m.dst_bytes / m.audio, m.plain_bytes / m.dst_bytes, m.rss_kb, m.sha.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  const char* child = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (a == "--seconds" && more) o.seconds = std::atof(argv[++i]);
    else if (a == "--threads" && more) o.threads = std::atoi(argv[++i]);
    else if (a == "--repeat" && more) o.repeat = std::atoi(argv[++i]);
    else if (a == "--order" && more) o.order = std::atoi(argv[++i]);
    else if (a == "--no-simd") o.simd = false;
    else if (a == "--amplitude" && more) o.amplitude = std::atof(argv[++i]);
    else if (a == "--kind" && more) o.kind = argv[++i];
    else if (a == "--only" && more) o.only = argv[++i];
    else if (a == "--baseline" && more) o.baseline = argv[++i];
    else if (a == "--child" && more) child = argv[++i];
    else {
      std::fprintf(stderr,
                   "usage: dst_bench [--seconds S] [--threads N] [--repeat R] [--order P] [--no-simd]\n"
                   "                 [--kind music|noise|tone|chirp|silence] [--amplitude A] [--only 6ch|stereo]\n"
                   "                 [--baseline PATH]\n");
      return 2;
    }
  }
  dsdgen::SignalKind kind;
  if (!signal_kind(o.kind, kind)) {
    std::fprintf(stderr, "dst_bench: unknown signal kind %s\n", o.kind.c_str());
    return 2;
  }
  if (child) return run_child(o, std::strcmp(child, "6ch") == 0 ? 6 : 2);

  char self[4096];
  const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
  if (len <= 0) return 1;
  self[len] = 0;
  std::printf("DST encoding of dsdgen %s (amplitude %.2f), DSD64, %.2f s of audio per run, %d threads, order %d, "
              "%s, best of %d\n",
              o.kind.c_str(), o.amplitude, static_cast<double>(static_cast<int>(o.seconds * 75.0)) / 75.0,
              o.threads, o.order, o.simd ? varn::dst_kernel_name(varn::dst_kernel_for(o.order)) : "no SIMD", o.repeat);
  std::printf("%-7s %-9s %10s %10s %12s %7s %9s  %s\n", "case", "encoder", "realtime", "per cpu-s", "bytes/s",
              "ratio", "peak KiB", "frames sha256");
  int failures = 0;
  for (const char* which : {"6ch", "stereo"}) {
    if (!o.only.empty() && o.only != which) continue;
    Measure now, base;
    for (int r = 0; r < o.repeat; ++r) {
      keep_best(now, measure(child_args(o, self, which)));
      if (!o.baseline.empty()) keep_best(base, measure(child_args(o, o.baseline, which)));
    }
    print_row(which, "this", now);
    failures += now.ok ? 0 : 1;
    if (o.baseline.empty()) continue;
    print_row(which, "baseline", base);
    if (now.ok && base.ok)
      std::printf("%-7s speed-up %.2fx wall, %.2fx processor time; peak RSS %.2fx; frames %s\n", which,
                  base.seconds / now.seconds, base.cpu / now.cpu,
                  static_cast<double>(now.rss_kb) / static_cast<double>(base.rss_kb),
                  now.sha == base.sha ? "identical" : "DIFFERENT");
    failures += base.ok && now.ok && now.sha == base.sha ? 0 : 1;
    std::fflush(stdout);
  }
  return failures ? 1 : 0;
}
