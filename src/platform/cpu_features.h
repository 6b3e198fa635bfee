// Processor feature flags read with CPUID and XCR0 (x86-64); all false on
// other processors.
#pragma once

#include <cstdint>

namespace varn {

struct CpuFeatures {
  uint32_t max_leaf = 0;  // highest standard CPUID leaf
  uint64_t xcr0 = 0;      // extended control register 0 (0 without OSXSAVE)
  bool sse2 = false;
  bool ssse3 = false;
  bool sse41 = false;
  bool popcnt = false;
  bool avx = false;
  bool osxsave = false;
  bool avx2 = false;
  bool avx512f = false;
  bool avx512cd = false;
  bool avx512bw = false;
  bool bmi2 = false;   // leaf 7, EBX bit 8
  bool sha = false;    // leaf 7, EBX bit 29
  bool avx512vpopcntdq = false;  // leaf 7, ECX bit 14
  bool lzcnt = false;  // leaf 0x80000001, ECX bit 5
  // The instructions are there and the system saves their registers.
  bool avx_usable = false;     // AVX with YMM state
  bool avx2_usable = false;    // the same, and AVX2
  bool avx512_usable = false;  // the same, and AVX-512 F/CD with ZMM state
};

// Read once and cached for the process.
const CpuFeatures& cpu_features();

}  // namespace varn
