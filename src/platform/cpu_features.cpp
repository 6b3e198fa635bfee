#include "platform/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace varn {

namespace {

CpuFeatures read_cpu_features() {
  CpuFeatures f;
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(0, &a, &b, &c, &d)) return f;
  f.max_leaf = a;
  if (f.max_leaf >= 1) {
    __cpuid(1, a, b, c, d);
    f.sse2 = (d >> 26) & 1;
    f.ssse3 = (c >> 9) & 1;
    f.sse41 = (c >> 19) & 1;
    f.popcnt = (c >> 23) & 1;
    f.osxsave = (c >> 27) & 1;
    f.avx = (c >> 28) & 1;
  }
  if (f.osxsave) {
    unsigned lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    f.xcr0 = (static_cast<uint64_t>(hi) << 32) | lo;
  }
  if (f.max_leaf >= 7) {
    __cpuid_count(7, 0, a, b, c, d);
    f.avx2 = (b >> 5) & 1;
    f.avx512f = (b >> 16) & 1;
    f.avx512cd = (b >> 28) & 1;
    f.avx512bw = (b >> 30) & 1;
    f.bmi2 = (b >> 8) & 1;
    f.sha = (b >> 29) & 1;
    f.avx512vpopcntdq = (c >> 14) & 1;
  }
  if (__get_cpuid(0x80000000, &a, &b, &c, &d) && a >= 0x80000001) {
    __cpuid(0x80000001, a, b, c, d);
    f.lzcnt = (c >> 5) & 1;
  }
#endif
  f.avx_usable = f.avx && f.osxsave && (f.xcr0 & 0x6) == 0x6;
  f.avx2_usable = f.avx_usable && f.avx2;
  f.avx512_usable = f.avx2_usable && f.avx512f && f.avx512cd && (f.xcr0 & 0xE6) == 0xE6;
  return f;
}

}  // namespace

const CpuFeatures& cpu_features() {
  static const CpuFeatures features = read_cpu_features();
  return features;
}

}  // namespace varn
