// Fifth-order sigma-delta modulator (error-feedback form) with a
// noise-transfer function of five zeros at DC and Butterworth-highpass poles
// chosen so that the out-of-band gain is 1.5: a stable 1-bit modulator of
// the kind real DSD recordings come from.
#include <cmath>
#include <cstring>
#include <random>

#include "dsdgen/dsdgen.h"

namespace dsdgen {
namespace {

constexpr int kOrder = 5;


struct Ntf {
  double d[kOrder + 1];  // denominator, d[0] = 1
  double n[kOrder + 1];  // numerator (1 - z^-1)^5
};

// Denominator of a digital Butterworth highpass of cutoff fc (cycles per
// sample) by the bilinear transform. Complex arithmetic is spelled out on
// pairs of doubles.
static void butter_denominator(double fc, double* d) {
  const double wc = 2.0 * std::tan(M_PI * fc);
  double re[kOrder + 1] = {1.0}, im[kOrder + 1] = {0.0};
  for (int k = 1; k <= kOrder; ++k) {
    const double ang = M_PI * (2.0 * k + kOrder - 1) / (2.0 * kOrder);
    // s = wc / p with |p| = 1: s = wc * conj(p)
    const double sr = wc * std::cos(ang), si = -wc * std::sin(ang);
    // z = (1 + s/2) / (1 - s/2)
    const double ar = 1.0 + sr / 2.0, ai = si / 2.0;
    const double br = 1.0 - sr / 2.0, bi = -si / 2.0;
    const double den = br * br + bi * bi;
    const double zr = (ar * br + ai * bi) / den, zi = (ai * br - ar * bi) / den;
    for (int i = k; i >= 1; --i) {
      const double pr = re[i - 1], pi = im[i - 1];
      re[i] -= zr * pr - zi * pi;
      im[i] -= zr * pi + zi * pr;
    }
  }
  for (int i = 0; i <= kOrder; ++i) d[i] = re[i];
}

// Kept out of line: g++ 12 at -O2 folds the inlined bisection into a wrong
// constant denominator (an unstable modulator); out of line it is exact.
__attribute__((noinline)) static Ntf design_ntf(double h_inf) {
  Ntf ntf{};
  const double binom[kOrder + 1] = {1, -5, 10, -10, 5, -1};
  for (int i = 0; i <= kOrder; ++i) ntf.n[i] = binom[i];
  double lo = 1e-4, hi = 0.45;
  for (int it = 0; it < 80; ++it) {
    double mid = 0.5 * (lo + hi);
    butter_denominator(mid, ntf.d);
    double dm1 = 0;  // D(-1)
    for (int i = 0; i <= kOrder; ++i) dm1 += ntf.d[i] * ((i % 2) ? -1.0 : 1.0);
    double gain = 32.0 / std::fabs(dm1);
    if (gain > h_inf) hi = mid; else lo = mid;
  }
  butter_denominator(lo, ntf.d);
  return ntf;
}

struct Modulator {
  Ntf ntf;
  double e[kOrder] = {};  // past quantisation errors, e[0] newest
  double u[kOrder] = {};  // past filtered errors
  explicit Modulator(const Ntf& f) : ntf(f) {}

  int step(double x) {
    double acc = 0;
    for (int k = 1; k <= kOrder; ++k)
      acc += (ntf.n[k] - ntf.d[k]) * e[k - 1] - ntf.d[k] * u[k - 1];
    double v = x + acc;
    int bit = v >= 0 ? 1 : 0;
    double y = bit ? 1.0 : -1.0;
    double err = y - v;
    if (!std::isfinite(acc) || std::fabs(acc) > 50.0) {  // recover from overload
      std::memset(e, 0, sizeof e);
      std::memset(u, 0, sizeof u);
      return bit;
    }
    for (int k = kOrder - 1; k > 0; --k) {
      e[k] = e[k - 1];
      u[k] = u[k - 1];
    }
    e[0] = err;
    u[0] = acc;
    return bit;
  }
};

struct Source {
  SignalOptions opt;
  uint32_t channel;
  std::mt19937_64 rng;
  std::normal_distribution<double> gauss{0.0, 1.0};
  double lp = 0, lp2 = 0;  // noise low-pass states
  Source(const SignalOptions& o, uint32_t ch) : opt(o), channel(ch), rng(o.seed * 7919 + ch * 104729) {}

  double noise() {
    // two one-pole low-passes at about 20 kHz
    const double a = 1.0 - std::exp(-2.0 * M_PI * 20000.0 / opt.sample_rate);
    lp += a * (gauss(rng) - lp);
    lp2 += a * (lp - lp2);
    return lp2 * 4.0;
  }

  double sample(uint64_t n) {
    const double t = static_cast<double>(n) / opt.sample_rate;
    const double A = opt.amplitude;
    switch (opt.kind) {
      case SignalKind::Silence:
        return 0.0;
      case SignalKind::Tone: {
        double f = opt.frequency * (1.0 + 0.125 * channel);
        return A * std::sin(2.0 * M_PI * f * t);
      }
      case SignalKind::Chirp: {
        double dur = static_cast<double>(opt.samples) / opt.sample_rate;
        double k = std::log(1000.0) / (dur > 0 ? dur : 1.0);
        double phase = 2.0 * M_PI * 20.0 * (std::exp(k * t) - 1.0) / k;
        return A * std::sin(phase);
      }
      case SignalKind::Noise:
        return std::fmax(-A, std::fmin(A, A * 0.5 * noise()));
      case SignalKind::Music:
      default: {
        static const double notes[] = {220.0, 277.18, 329.63, 440.0, 554.37, 659.25, 880.0};
        double s = 0;
        for (int i = 0; i < 7; ++i) {
          double f = notes[i] * (1.0 + 0.01 * channel);
          double env_rate = 0.7 + 0.31 * i;
          double env = 0.5 + 0.5 * std::sin(2.0 * M_PI * env_rate * t + i + channel);
          s += env * std::sin(2.0 * M_PI * f * t + 0.3 * i) / (1.0 + 0.4 * i);
          s += 0.3 * env * std::sin(2.0 * M_PI * 3.0 * f * t) / (2.0 + i);
        }
        s = s / 4.0 + 0.02 * noise();
        return A * std::fmax(-1.0, std::fmin(1.0, s));
      }
    }
  }
};

}  // namespace

static void modulate(const SignalOptions& opt, uint64_t bytes_per_ch, std::vector<uint8_t>& out,
                     uint64_t out_bytes_per_ch) {
  static const Ntf ntf = design_ntf(1.5);
  const uint32_t C = opt.channels;
  out.assign(out_bytes_per_ch * C, 0);
  for (uint32_t c = 0; c < C; ++c) {
    Modulator mod(ntf);
    Source src(opt, c);
    uint64_t n = 0;
    for (uint64_t i = 0; i < bytes_per_ch; ++i) {
      uint8_t b = 0;
      for (int k = 0; k < 8; ++k) b = static_cast<uint8_t>((b << 1) | mod.step(src.sample(n++)));
      out[i * C + c] = b;
    }
  }
}

std::vector<uint8_t> generate(const SignalOptions& opt) {
  std::vector<uint8_t> out;
  uint64_t bpc = opt.samples / 8;
  modulate(opt, bpc, out, bpc);
  return out;
}

std::vector<uint8_t> generate_repeated(const SignalOptions& opt, uint64_t period_bytes) {
  std::vector<uint8_t> out;
  const uint64_t bpc = opt.samples / 8;
  if (period_bytes == 0 || period_bytes >= bpc) return generate(opt);
  modulate(opt, period_bytes, out, bpc);
  const uint64_t C = opt.channels;
  const uint64_t period = period_bytes * C;
  for (uint64_t pos = period; pos < bpc * C; pos += period) {
    uint64_t n = std::min(period, bpc * C - pos);
    std::memcpy(out.data() + pos, out.data(), n);
  }
  return out;
}

}  // namespace dsdgen
