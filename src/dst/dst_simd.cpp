// The SIMD switch, the processor level and the kernel name.
#include <atomic>

#include "dst/dst_encoder.h"
#include "platform/cpu_features.h"

namespace varn {

namespace {

std::atomic<bool> g_simd_on{true};

int compute_level() {
  const CpuFeatures& f = cpu_features();
  if (!f.sse2) return 0;
  int level = 10;
  if (!f.sse41) return level;
  level = 20;
  if (!f.avx_usable) return level;
  level = 30;
  if (!f.avx2_usable) return level;
  level = 40;
  if (!f.avx512_usable) return level;
  return 50;
}

}  // namespace

void set_simd_enabled(bool on) { g_simd_on.store(on, std::memory_order_relaxed); }

bool simd_enabled() { return g_simd_on.load(std::memory_order_relaxed); }

int simd_level() {
  static const int level = compute_level();
  return level;
}

const char* simd_name() {
  if (!simd_enabled()) return "scalar (--no-simd)";
  if (simd_level() >= 40) return "AVX2";
  if (simd_level() >= 20) return "SSE2";
  return "scalar";
}

}  // namespace varn
