// DST encoding speed and compression on music-like DSD64 from dsdgen.
//
//   dst_bench [--seconds S] [--threads N] [--no-simd] [--no-compare] [--only 6|2]
//             [--amplitude A] [--kind music|noise|tone|chirp|silence]
//
// For 6-channel and stereo material at prediction orders 128 and 32 it
// prints frames per second, the real-time factor (audio seconds per wall
// second), the compression ratio (plain size / DST size), the mean
// effective filter order and the mean number of filters per frame;
// cpu/aud is the processor time spent per second of audio (all threads). Unless
// --no-simd is given, the order-128 cases are repeated with the SIMD
// switch off for comparison (not with --no-compare). --amplitude sets the
// modulator input peak (dsdgen's default otherwise), to see how the ratio
// depends on the level of the material; --kind picks another dsdgen signal
// (music by default), to see how it depends on the kind of material.
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dsdgen/dsdgen.h"
#include "dst/dst_decoder.h"
#include "dst/dst_encoder.h"
#include "dst/dst_parallel.h"

namespace {

double cpu_now() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Result {
  double seconds = 0;
  double cpu = 0;
  size_t frames = 0;
  double ratio = 0;
  double mean_order = 0;
  double mean_filters = 0;
  size_t plain_frames = 0;
};

Result run(const std::vector<uint8_t>& audio, int channels, int order, int threads) {
  Result r;
  const double c0 = cpu_now();
  const auto t0 = std::chrono::steady_clock::now();
  std::vector<varn::DstFrame> frames =
      varn::dst_encode_track(audio.data(), audio.size(), channels, 64, 44100, order, threads);
  const auto t1 = std::chrono::steady_clock::now();
  r.seconds = std::chrono::duration<double>(t1 - t0).count();
  r.cpu = cpu_now() - c0;
  r.frames = frames.size();
  size_t dst_bytes = 0;
  size_t filters = 0, order_sum = 0;
  for (const varn::DstFrame& f : frames) {
    dst_bytes += f.size();
    varn::DstFrameHeader h;
    std::string err;
    if (varn::dst_parse_frame_header(f.data(), f.size(), channels, 4704, h, err) && h.dst_coded) {
      filters += h.filter_order.size();
      for (int o : h.filter_order) order_sum += static_cast<size_t>(o);
    } else {
      ++r.plain_frames;
    }
  }
  const size_t plain = r.frames * 4704 * static_cast<size_t>(channels);
  r.ratio = dst_bytes ? static_cast<double>(plain) / static_cast<double>(dst_bytes) : 0;
  const size_t coded = r.frames - r.plain_frames;
  r.mean_filters = coded ? static_cast<double>(filters) / static_cast<double>(coded) : 0;
  r.mean_order = filters ? static_cast<double>(order_sum) / static_cast<double>(filters) : 0;
  return r;
}

void print_row(const char* label, int channels, int order, bool simd, const Result& r) {
  const double audio_seconds = static_cast<double>(r.frames) / 75.0;
  std::printf("%-10s %3d %5d  %-8s %8.1f %9.2fx %8.3f %8.3f %9.1f %8.2f %6zu\n", label, channels, order,
              simd ? varn::simd_name() : "off", r.seconds > 0 ? static_cast<double>(r.frames) / r.seconds : 0,
              r.seconds > 0 ? audio_seconds / r.seconds : 0, audio_seconds > 0 ? r.cpu / audio_seconds : 0, r.ratio, r.mean_order, r.mean_filters,
              r.plain_frames);
  std::fflush(stdout);
}

bool parse_kind(const std::string& name, dsdgen::SignalKind& kind, std::string& label) {
  static const struct {
    const char* name;
    dsdgen::SignalKind kind;
    const char* label;
  } kinds[] = {{"music", dsdgen::SignalKind::Music, "Music"},
               {"noise", dsdgen::SignalKind::Noise, "Noise"},
               {"tone", dsdgen::SignalKind::Tone, "Tone"},
               {"chirp", dsdgen::SignalKind::Chirp, "Chirp"},
               {"silence", dsdgen::SignalKind::Silence, "Silence"}};
  for (const auto& k : kinds) {
    if (name == k.name) {
      kind = k.kind;
      label = k.label;
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 4.0;
  int threads = 2;
  bool simd = true;
  int only = 0;
  bool compare = true;
  double amplitude = dsdgen::SignalOptions{}.amplitude;
  dsdgen::SignalKind kind = dsdgen::SignalKind::Music;
  std::string kind_name = "Music";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc) seconds = std::atof(argv[++i]);
    else if (a == "--threads" && i + 1 < argc) threads = std::atoi(argv[++i]);
    else if (a == "--no-simd") simd = false;
    else if (a == "--only" && i + 1 < argc) only = std::atoi(argv[++i]);
    else if (a == "--no-compare") compare = false;
    else if (a == "--amplitude" && i + 1 < argc) amplitude = std::atof(argv[++i]);
    else if (a == "--kind" && i + 1 < argc && parse_kind(argv[i + 1], kind, kind_name)) ++i;
    else {
      std::fprintf(stderr,
                   "usage: dst_bench [--seconds S] [--threads N] [--no-simd] [--no-compare] [--only 6|2] [--amplitude A]"
                   " [--kind music|noise|tone|chirp|silence]\n");
      return 2;
    }
  }
  const uint64_t samples = static_cast<uint64_t>(seconds * 75.0) * 37632;
  std::printf("DST encoding of dsdgen %s (amplitude %.2f), DSD64, %.2f s per case, %d threads, SIMD level %d\n",
              kind_name.c_str(), amplitude, static_cast<double>(samples) / 2822400.0, threads, varn::simd_level());
  std::printf("%-10s %3s %5s  %-8s %8s %10s %8s %8s %9s %8s %6s\n", "case", "ch", "order", "kernel",
              "frames/s", "realtime", "cpu/aud", "ratio", "eff.ord", "filters", "plain");

  for (int channels : {6, 2}) {
    if (only && only != channels) continue;
    dsdgen::SignalOptions opt;
    opt.kind = kind;
    opt.channels = static_cast<uint32_t>(channels);
    opt.sample_rate = 2822400;
    opt.samples = samples;
    opt.amplitude = amplitude;
    const std::vector<uint8_t> audio = dsdgen::generate(opt);
    for (int order : {128, 32}) {
      varn::set_simd_enabled(simd);
      print_row(channels == 6 ? "6ch" : "stereo", channels, order, simd, run(audio, channels, order, threads));
    }
    if (simd && compare) {
      varn::set_simd_enabled(false);
      print_row(channels == 6 ? "6ch" : "stereo", channels, 128, false, run(audio, channels, 128, threads));
      varn::set_simd_enabled(true);
    }
  }
  return 0;
}
