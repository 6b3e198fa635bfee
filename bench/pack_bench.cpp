// Packing a plain stereo album with the console program, side by side with
// `cat` of its inputs to one file and with `cat | cat`, which passes the
// bytes through user space as the packer must: wall time, CPU time (steadier
// than wall time on a loaded machine) and peak resident set, with and
// without the manifest, and the DSD Disc of the same files; the peak of one
// track against several; then the peak resident set of DST-coding 6-channel
// audio, and stereo audio with --dst-stereo, for a short and a long track.
//   pack_bench [DIR] [TRACK_MIB] [TRACKS] [DISC_GIB]   (TRACKS 0: the DST cases alone)
// Defaults: /tmp, 85 MiB, 4 tracks, no disc; with DISC_GIB a plain disc of
// that many GiB (stereo and 6-channel tracks) is packed as well, reporting
// its peak RSS and MB/s. VARN_BENCH_PROGRAM names another build of the
// console program to measure; VARN_BENCH_BASELINE names one to measure
// beside it in the same turns (the program of a build tree of its own: it
// loads its library from its build tree, so a copied program would run
// today's library); VARN_BENCH_CODED=0 leaves out the DST cases.
// The inputs are read once before timing, so all run with the page cache
// warm.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "dsdgen/dsdgen.h"

namespace {

struct Outcome {
  int status = -1;
  double seconds = 0;
  double cpu = 0;  // user + system time of the process and its children
  long peak_kib = 0;
};

// Runs a program with its output streams sent to /dev/null.
Outcome run(const std::vector<std::string>& args, const std::string& stdout_path = "/dev/null") {
  Outcome o;
  std::fflush(stdout);  // the child must not write this process's buffer again
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (!std::freopen(stdout_path.c_str(), "wb", stdout) || !std::freopen("/dev/null", "wb", stderr)) _exit(127);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  o.peak_kib = usage.ru_maxrss;
  o.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return o;
}

// One program run of the side-by-side comparison and its best outcome.
struct Contender {
  std::string name;
  std::vector<std::string> args;
  std::string stdout_path = "/dev/null";
  Outcome best;
};

// Runs the contenders in turn, `rounds` times over, so that a change in
// the machine's load falls on all of them alike; keeps the least wall
// time, the least CPU time, the largest peak and any failure.
void take_turns(std::vector<Contender>& contenders, int rounds, const std::string& out) {
  for (int r = 0; r < rounds; ++r) {
    for (Contender& k : contenders) {
      std::filesystem::remove_all(out);
      std::filesystem::create_directories(out);
      const Outcome o = run(k.args, k.stdout_path);
      Outcome& b = k.best;
      if (r == 0 || o.seconds < b.seconds) b.seconds = o.seconds;
      if (r == 0 || o.cpu < b.cpu) b.cpu = o.cpu;
      b.peak_kib = std::max(b.peak_kib, o.peak_kib);
      if (r == 0 || o.status != 0) b.status = o.status;
    }
  }
}

// DST coding at the fast order on two threads: 6 channels for 10 s and
// 60 s, stereo with --dst-stereo for 30 s and 120 s (both lengths above the
// plain audio coded at a time, 16 MiB). The coded frames wait in a spool
// file, so peak memory should not grow with the length of the track.
bool coded_cases(const std::string& program, const std::string& dir) {
  bool coded_ok = true;
  const struct {
    unsigned channels;
    double seconds[2];
  } cases[] = {{6, {10, 60}}, {2, {30, 120}}};
  for (const auto& c : cases) {
    Outcome coded[2];
    for (int k = 0; k < 2; ++k) {
      dsdgen::SignalOptions sig;
      sig.channels = c.channels;
      sig.samples = uint64_t(c.seconds[k] * sig.sample_rate);
      const std::string path = dir + "/coded" + std::to_string(k) + ".dsf";
      if (!dsdgen::write_dsf(path, c.channels, sig.sample_rate, dsdgen::generate_repeated(sig, 1 << 18), {}))
        return false;
      std::vector<std::string> args = {program, "-o", dir + "/coded.iso", "--album", "Bench", "--no-manifest",
                                       "--dst-fast", "--dst-threads", "2", path};
      if (c.channels == 2) args.insert(args.end() - 1, "--dst-stereo");
      coded[k] = run(args);
      coded_ok = coded_ok && coded[k].status == 0;
      std::printf("pack %.0f s of %u-channel DST: %.2f s, peak RSS %ld KiB (exit %d)\n", c.seconds[k], c.channels,
                  coded[k].seconds, coded[k].peak_kib, coded[k].status);
    }
    std::printf("peak RSS %.0f s - %.0f s of %u-channel DST: %ld KiB\n", c.seconds[1], c.seconds[0], c.channels,
                coded[1].peak_kib - coded[0].peak_kib);
  }
  return coded_ok;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = (argc > 1 ? std::string(argv[1]) : std::string("/tmp")) + "/varn_pack_bench";
  const uint64_t track_mib = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 85;
  const unsigned tracks = argc > 3 ? unsigned(std::strtoul(argv[3], nullptr, 10)) : 4;
  std::filesystem::create_directories(dir);
  const char* other = std::getenv("VARN_BENCH_PROGRAM");
  const std::string program = other && *other ? other : VARN_BENCH_VARNTESSEL;
  if (tracks == 0) {  // the DST cases alone
    const bool ok = coded_cases(program, dir);
    std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
  }

  // A modulated period repeated: realistic bytes without modulating the
  // whole length.
  dsdgen::SignalOptions sig;
  sig.samples = (track_mib << 20) / 2 * 8;
  std::vector<std::string> inputs;
  for (unsigned i = 0; i < tracks; ++i) {
    sig.seed = i + 1;
    const std::string path = dir + "/track" + std::to_string(i + 1) + ".dsf";
    dsdgen::DsfOptions o;
    o.tags.title = "Bench " + std::to_string(i + 1);
    if (!dsdgen::write_dsf(path, 2, sig.sample_rate, dsdgen::generate_repeated(sig, 1 << 20), o)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
    inputs.push_back(path);
  }

  std::vector<std::string> cat = {"cat"};
  cat.insert(cat.end(), inputs.begin(), inputs.end());
  run(cat);  // page cache warm
  // cat to a file lets the kernel copy the extents (copy_file_range)
  // without the bytes passing through the program; a program that
  // rearranges them must read and write them. A copy through a pipe is
  // that program's floor.
  std::vector<std::string> piped = {"sh", "-c", "cat \"$@\" | cat", "sh"};
  piped.insert(piped.end(), inputs.begin(), inputs.end());

  // Every contender writes into `out`, emptied before each run, so that
  // none pays for replacing an earlier output.
  const std::string out = dir + "/out";
  std::vector<Contender> plain = {{"cat > file", cat, out + "/cat.out", {}},
                                  {"cat | cat > file", piped, out + "/cat.out", {}}};
  const char* baseline = std::getenv("VARN_BENCH_BASELINE");
  std::vector<std::pair<std::string, std::string>> programs = {{"", program}};
  if (baseline && *baseline) {
    programs[0].first = "new ";
    programs.push_back({"baseline ", baseline});
  }
  for (const auto& [label, path] : programs) {
    std::vector<std::string> pack = {path, "-o", out + "/all.iso", "--album", "Bench"};
    pack.insert(pack.end(), inputs.begin(), inputs.end());
    std::vector<std::string> bare = pack;
    bare.insert(bare.begin() + 5, "--no-manifest");
    std::vector<std::string> dsd_disc = {path, "--dsd-disc", "-o", out + "/dsd.iso"};
    dsd_disc.insert(dsd_disc.end(), inputs.begin(), inputs.end());
    plain.push_back({label + "pack --no-manifest", bare, "/dev/null", {}});
    plain.push_back({label + "pack (manifest)", pack, "/dev/null", {}});
    plain.push_back({label + "DSD Disc", dsd_disc, "/dev/null", {}});
  }
  take_turns(plain, 5, out);
  const double mb = double(track_mib << 20) * tracks / 1e6;
  const Outcome& c = plain[0].best;
  const Outcome& cp = plain[1].best;
  std::printf("%u x %llu MiB stereo DSF, page cache warm, best of 5 turns (wall and CPU each their own best)\n",
              tracks, (unsigned long long)track_mib);
  std::printf("%-30s %7s %6s %6s %6s %9s %8s %10s\n", "", "wall s", "MB/s", "/cat", "/cat|cat", "CPU s", "CPU/cat",
              "peak KiB");
  bool plain_ok = true;
  for (const Contender& k : plain) {
    const Outcome& o = k.best;
    std::printf("%-30s %7.3f %6.0f %5.2fx %7.2fx %9.3f %7.2fx %10ld%s\n", k.name.c_str(), o.seconds, mb / o.seconds,
                o.seconds / c.seconds, o.seconds / cp.seconds, o.cpu, o.cpu / c.cpu, o.peak_kib,
                o.status == 0 ? "" : " FAILED");
    plain_ok = plain_ok && o.status == 0;
  }
  // Peak memory must not grow with the album: one track against all.
  for (const auto& [label, path] : programs) {
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    const Outcome one =
        run({path, "-o", out + "/one.iso", "--album", "Bench", "--no-manifest", inputs[0]});
    const Outcome& all = plain[label == programs[0].first ? 2 : 5].best;
    std::printf("%speak RSS %u tracks - 1 track: %ld KiB (1 track %ld KiB)\n", label.c_str(), tracks,
                all.peak_kib - one.peak_kib, one.peak_kib);
    plain_ok = plain_ok && one.status == 0;
  }

  const char* coded = std::getenv("VARN_BENCH_CODED");
  const bool coded_ok = coded && std::string(coded) == "0" ? true : coded_cases(program, dir);

  // A whole disc of plain audio: two stereo tracks of 512 MiB, then
  // 6-channel tracks of 1 GiB up to the size asked for.
  const uint64_t disc_gib = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 0;
  int disc_status = 0;
  if (disc_gib > 0) {
    std::vector<std::string> disc = {program, "-o", dir + "/disc.iso", "--album", "Disc", "--no-encode",
                                     "--no-manifest"};
    uint64_t total = 0;
    for (int k = 0; total < (disc_gib << 30); ++k) {
      dsdgen::SignalOptions big;
      big.channels = k < 2 ? 2 : 6;
      const uint64_t bytes = k < 2 ? (512ull << 20) : (1ull << 30);
      big.samples = bytes / big.channels * 8;
      big.seed = uint32_t(k + 1);
      const std::string path = dir + "/disc" + std::to_string(k) + ".dsf";
      if (!dsdgen::write_dsf(path, big.channels, big.sample_rate, dsdgen::generate_repeated(big, 1 << 20), {}))
        return 1;
      disc.push_back(path);
      total += bytes;
    }
    const Outcome d = run(disc);  // the inputs were just written: page cache warm
    std::error_code ec;
    const double image_mb = double(std::filesystem::file_size(dir + "/disc.iso", ec)) / 1e6;
    std::printf("pack a %.2f GB plain disc (2 stereo + %zu 6-channel tracks): %.2f s = %.0f MB/s, peak RSS %ld KiB "
                "(exit %d)\n",
                image_mb / 1e3, disc.size() - 9, d.seconds, image_mb / d.seconds, d.peak_kib, d.status);
    disc_status = d.status;
  }
  std::filesystem::remove_all(dir);
  return plain_ok && coded_ok && disc_status == 0 ? 0 : 1;
}
