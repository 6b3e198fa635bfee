// The factorisation runs column by column: once column j is known, the
// entries of column j + 1 below the diagonal are independent of each other,
// so they are computed side by side in vector lanes. Each entry still sees
// exactly the operations of the row-by-row textbook order (the same
// products subtracted in the same order, one rounding each), so the result
// is bit for bit that of the plain loops whatever the vector width. This
// file is compiled without floating-point contraction: a fused
// multiply-subtract would round differently.
#include "dst/dst_filter_design.h"

#include <cmath>

#include "dst/dst_encoder.h"
#include "dst/dst_kernel.h"

namespace varn {

namespace {

typedef double V8 __attribute__((vector_size(64)));

// Loads/stores 8 doubles without alignment assumptions.
__attribute__((always_inline)) inline V8 load8(const double* p) {
  V8 v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}
__attribute__((always_inline)) inline void store8(double* p, V8 v) { __builtin_memcpy(p, &v, sizeof v); }

// `lt` holds the factor transposed: lt[t * P + i] is the factor's entry at
// row i, column t. Works on NV x 8 rows of column j from row i on, of which
// the first `valid` are real: v_i = r[i - j] minus the products of row i
// and row j over the columns before j, then divided by the pivot; d_i
// loses the square of the new entry. Lanes past the real rows read
// neighbouring (finite or zero) entries and are dropped. `r` is readable
// up to P + 7.
template <int NV>
__attribute__((always_inline)) inline void column_block(const double* r, double* lt, double* d, int P, int j, int i,
                                                       int valid) {
  V8 v[NV];
#pragma GCC unroll 16
  for (int b = 0; b < NV; ++b) v[b] = load8(r + i + 8 * b - j);
  for (int t = 0; t < j; ++t) {
    const double* col = lt + static_cast<long>(t) * P + i;
    const double ljt = lt[static_cast<long>(t) * P + j];
#pragma GCC unroll 16
    for (int b = 0; b < NV; ++b) v[b] = v[b] - load8(col + 8 * b) * ljt;
  }
  const double pivot = lt[static_cast<long>(j) * P + j];
  double* out = lt + static_cast<long>(j) * P + i;
#pragma GCC unroll 16
  for (int b = 0; b < NV; ++b) {
    const V8 x = v[b] / pivot;
    const V8 dx = load8(d + i + 8 * b) - x * x;
    if (8 * b + 8 <= valid) {
      store8(out + 8 * b, x);
      store8(d + i + 8 * b, dx);
    } else {
      for (int k = 0; 8 * b + k < valid; ++k) {
        out[8 * b + k] = x[k];
        d[i + 8 * b + k] = dx[k];
      }
    }
  }
}

// Rows [begin, end) of column j: 8 x Max at a time, then the rest in one
// pass. The more rows a pass takes, the more independent subtraction
// chains overlap; Max is what the registers hold (16 with 32 vector
// registers of 8 lanes, 4 otherwise).
template <int Max>
__attribute__((always_inline)) inline void column_rows(const double* r, double* lt, double* d, int P, int j,
                                                      int begin, int end) {
  int i = begin;
  for (; i + 8 * Max <= end; i += 8 * Max) column_block<Max>(r, lt, d, P, j, i, 8 * Max);
  switch ((end - i + 7) / 8) {
    case 16: if constexpr (Max >= 16) column_block<16>(r, lt, d, P, j, i, end - i); break;
    case 15: if constexpr (Max >= 15) column_block<15>(r, lt, d, P, j, i, end - i); break;
    case 14: if constexpr (Max >= 14) column_block<14>(r, lt, d, P, j, i, end - i); break;
    case 13: if constexpr (Max >= 13) column_block<13>(r, lt, d, P, j, i, end - i); break;
    case 12: if constexpr (Max >= 12) column_block<12>(r, lt, d, P, j, i, end - i); break;
    case 11: if constexpr (Max >= 11) column_block<11>(r, lt, d, P, j, i, end - i); break;
    case 10: if constexpr (Max >= 10) column_block<10>(r, lt, d, P, j, i, end - i); break;
    case 9: if constexpr (Max >= 9) column_block<9>(r, lt, d, P, j, i, end - i); break;
    case 8: if constexpr (Max >= 8) column_block<8>(r, lt, d, P, j, i, end - i); break;
    case 7: if constexpr (Max >= 7) column_block<7>(r, lt, d, P, j, i, end - i); break;
    case 6: if constexpr (Max >= 6) column_block<6>(r, lt, d, P, j, i, end - i); break;
    case 5: if constexpr (Max >= 5) column_block<5>(r, lt, d, P, j, i, end - i); break;
    case 4: if constexpr (Max >= 4) column_block<4>(r, lt, d, P, j, i, end - i); break;
    case 3: if constexpr (Max >= 3) column_block<3>(r, lt, d, P, j, i, end - i); break;
    case 2: if constexpr (Max >= 2) column_block<2>(r, lt, d, P, j, i, end - i); break;
    case 1: if constexpr (Max >= 1) column_block<1>(r, lt, d, P, j, i, end - i); break;
    default: break;
  }
}

template <int Max>
__attribute__((always_inline)) inline int design_impl(const double* r_in, int order, DstDesignScratch& s,
                                                     int16_t* coef) {
  const int P = order;
  // The autocorrelation with room for the dropped lanes of the last rows.
  double r[128 + 1 + 8] = {};
  for (int k = 0; k <= P; ++k) r[k] = r_in[k];
  double* lt = s.factor;
  double d[128 + 8];  // pivots before their square root

  const double r0 = r[0];
  const double stop = 0.334 * r0;
  for (double& v : d) v = r0;

  // A pivot at or below a third of r[0] ends the filter there.
  int eff = P;
  for (int j = 0; j < P; ++j) {
    if (!(d[j] > stop)) {
      eff = j;
      break;
    }
    lt[static_cast<long>(j) * P + j] = std::sqrt(d[j]);
    column_rows<Max>(r, lt, d, P, j, j + 1, P);
  }

  double* a = s.a;
  if (eff == 0) {
    eff = 1;
    a[0] = r[1] < 0 ? -1.0 : 1.0;
  } else {
    // Forward substitution, column by column: every y_i loses its terms in
    // ascending column order, as in the row form.
    double* y = s.y;
    for (int i = 0; i < eff; ++i) y[i] = r[i + 1];
    for (int t = 0; t < eff; ++t) {
      const double* col = lt + static_cast<long>(t) * P;
      y[t] /= col[t];
      const double yt = y[t];
      int i = t + 1;
      for (; i + 8 <= eff; i += 8) store8(y + i, load8(y + i) - load8(col + i) * yt);
      for (; i < eff; ++i) y[i] -= col[i] * yt;
    }
    // Backward substitution: a_i subtracts its terms for t = i + 1 upwards,
    // the first of which is the value found last, so this stays serial.
    for (int i = eff - 1; i >= 0; --i) {
      const double* col = lt + static_cast<long>(i) * P;
      double v = y[i];
      for (int t = i + 1; t < eff; ++t) v -= col[t] * a[t];
      a[i] = v / col[i];
    }
  }

  double m = 0.0;
  for (int k = 0; k < eff; ++k) m = std::fabs(a[k]) > m ? std::fabs(a[k]) : m;
  if (m < 2.2250738585072014e-308) {
    for (int k = 0; k < eff; ++k) coef[k] = 0;
  } else {
    for (int k = 0; k < eff; ++k) coef[k] = static_cast<int16_t>(std::floor(a[k] / m * 255.0 + 0.5));
  }
  return eff;
}

int design_generic(const double* r, int order, DstDesignScratch& s, int16_t* coef) {
  return design_impl<4>(r, order, s, coef);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) int design_avx2(const double* r, int order, DstDesignScratch& s,
                                               int16_t* coef) {
  return design_impl<4>(r, order, s, coef);
}

__attribute__((target("avx512f"))) int design_avx512(const double* r, int order, DstDesignScratch& s,
                                                    int16_t* coef) {
  return design_impl<16>(r, order, s, coef);
}
#endif

}  // namespace

int dst_design_filter(const double* r, int order, DstDesignScratch& s, int16_t* coef) {
#if defined(__x86_64__)
  switch (dst_kernel_for(order < 8 ? 8 : order)) {
    case DstKernel::Avx512: return design_avx512(r, order, s, coef);
    case DstKernel::Avx2: return design_avx2(r, order, s, coef);
    default: break;
  }
#endif
  return design_generic(r, order, s, coef);
}

}  // namespace varn
