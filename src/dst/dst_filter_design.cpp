// The factorisation is left-looking and runs four columns (a panel) at a
// time. Entry (i, j) of the factor is r[i - j] minus the products of rows
// i and j over the columns before j, subtracted in ascending column order,
// then divided by the pivot of column j. For a panel, the products over
// the columns before the panel are independent of the panel itself, so
// they are taken for all four columns of many rows at once (up to sixteen
// independent chains of vector lanes, where one column alone has one or
// two near the end); the terms of the panel's own columns follow column by
// column. Each entry still sees exactly the operations of the row-by-row
// textbook order (the same products subtracted in the same order, one
// rounding each), so the result is bit for bit that of the plain loops
// whatever the vector width. This file is compiled without floating-point
// contraction: a fused multiply-subtract would round differently.
#include "dst/dst_filter_design.h"

#include <cmath>

#include "dst/dst_encoder.h"
#include "dst/dst_kernel.h"

namespace varn {

namespace {

typedef double V2 __attribute__((vector_size(16)));
typedef double V4 __attribute__((vector_size(32)));
typedef double V8 __attribute__((vector_size(64)));

constexpr int kPanel = 4;
constexpr int kMaxOrder = 128;
// Room before r[0] for the rows of a panel above a column's diagonal, and
// after r[order] for the dropped lanes of the last rows.
constexpr int kRBefore = 16;
constexpr int kRLength = kRBefore + kMaxOrder + 1 + 16;
constexpr int kRows = kMaxOrder + 16;  // a column with room for dropped lanes

// Column t of a factor of order P, indexed by row (from row t on).
template <typename T>
__attribute__((always_inline)) inline T* column(T* lt, int P, int t) {
  return lt + (static_cast<long>(t) * P - static_cast<long>(t) * (t + 1) / 2);
}

// Vector loads and stores without alignment assumptions.
template <typename V>
__attribute__((always_inline)) inline V load(const double* p) {
  V v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}
template <typename V>
__attribute__((always_inline)) inline void store(double* p, V v) {
  __builtin_memcpy(p, &v, sizeof v);
}

// `lt` holds the factor's lower triangle column after column, column t
// holding rows t to P - 1: column(lt, P, t)[i] is the entry at row i,
// column t. For NV vectors of rows from row i on and the four
// columns from j0 on, w[c][row] = r[row - (j0 + c)] minus the products of
// the row and row j0 + c over the columns before j0. Lanes past the real
// rows and columns past the order read neighbouring (finite or zero)
// entries; they are never used.
template <typename V, int NV>
__attribute__((always_inline)) inline void panel_block(const double* r, const double* lt, double (*w)[kRows], int P,
                                                      int j0, int i) {
  constexpr int W = sizeof(V) / sizeof(double);
  V v[NV][kPanel];
#pragma GCC unroll 16
  for (int b = 0; b < NV; ++b)
#pragma GCC unroll 4
    for (int c = 0; c < kPanel; ++c) v[b][c] = load<V>(r + i + W * b - j0 - c);
  for (int t = 0; t < j0; ++t) {
    const double* col = column(lt, P, t);
    V rows[NV];
#pragma GCC unroll 16
    for (int b = 0; b < NV; ++b) rows[b] = load<V>(col + i + W * b);
#pragma GCC unroll 4
    for (int c = 0; c < kPanel; ++c) {
      const double l = col[j0 + c];
#pragma GCC unroll 16
      for (int b = 0; b < NV; ++b) v[b][c] = v[b][c] - rows[b] * l;
    }
  }
#pragma GCC unroll 16
  for (int b = 0; b < NV; ++b)
#pragma GCC unroll 4
    for (int c = 0; c < kPanel; ++c) store(w[c] + i + W * b, v[b][c]);
}

// Rows [begin, end) of the panel at j0, Max vectors at a time, then the
// rest.
template <typename V, int Max>
__attribute__((always_inline)) inline void panel_rows(const double* r, const double* lt, double (*w)[kRows], int P,
                                                     int j0, int begin, int end) {
  constexpr int W = sizeof(V) / sizeof(double);
  int i = begin;
  for (; i + W * Max <= end; i += W * Max) panel_block<V, Max>(r, lt, w, P, j0, i);
  switch ((end - i + W - 1) / W) {
    case 4: if constexpr (Max >= 4) panel_block<V, 4>(r, lt, w, P, j0, i); break;
    case 3: if constexpr (Max >= 3) panel_block<V, 3>(r, lt, w, P, j0, i); break;
    case 2: if constexpr (Max >= 2) panel_block<V, 2>(r, lt, w, P, j0, i); break;
    case 1: panel_block<V, 1>(r, lt, w, P, j0, i); break;
    default: break;
  }
}

// Column j of the panel at j0 from the panel's sums: the terms of the
// panel's columns before j, the division by the pivot, and each row's
// pivot-to-be d loses the square of its new entry.
__attribute__((always_inline)) inline void panel_column(const double* wj, double* lt, double* d, int P, int j0,
                                                       int j) {
  double* out = column(lt, P, j);
  const double pivot = out[j];
  for (int i = j + 1; i < P; i += 8) {
    V8 v = load<V8>(wj + i);
    for (int t = j0; t < j; ++t) v = v - load<V8>(column(lt, P, t) + i) * column(lt, P, t)[j];
    const V8 x = v / pivot;
    const V8 dx = load<V8>(d + i) - x * x;
    if (i + 8 <= P) {
      store(out + i, x);
      store(d + i, dx);
    } else {
      for (int k = 0; i + k < P; ++k) {
        out[i + k] = x[k];
        d[i + k] = dx[k];
      }
    }
  }
}

template <typename V, int Max>
__attribute__((always_inline)) inline int design_impl(const double* r_in, int order, DstDesignScratch& s,
                                                     int16_t* coef) {
  const int P = order;
  // The autocorrelation with room on both sides for unused lanes.
  double rbuf[kRLength] = {};
  double* r = rbuf + kRBefore;
  for (int k = 0; k <= P; ++k) r[k] = r_in[k];
  double* lt = s.factor;
  double d[kRows];  // pivots before their square root
  double w[kPanel][kRows];

  const double r0 = r[0];
  const double stop = 0.334 * r0;
  for (double& v : d) v = r0;

  // A pivot at or below a third of r[0] ends the filter there.
  int eff = P;
  for (int j0 = 0; j0 < P && eff == P; j0 += kPanel) {
    panel_rows<V, Max>(r, lt, w, P, j0, j0 + 1, P);
    for (int j = j0; j < j0 + kPanel && j < P; ++j) {
      if (!(d[j] > stop)) {
        eff = j;
        break;
      }
      column(lt, P, j)[j] = std::sqrt(d[j]);
      panel_column(w[j - j0], lt, d, P, j0, j);
    }
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
      const double* col = column(lt, P, t);
      y[t] /= col[t];
      const double yt = y[t];
      int i = t + 1;
      for (; i + 8 <= eff; i += 8) store(y + i, load<V8>(y + i) - load<V8>(col + i) * yt);
      for (; i < eff; ++i) y[i] -= col[i] * yt;
    }
    // Backward substitution: a_i subtracts its terms for t = i + 1 upwards,
    // the first of which is the value found last, so this stays serial.
    for (int i = eff - 1; i >= 0; --i) {
      const double* col = column(lt, P, i);
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
  return design_impl<V2, 2>(r, order, s, coef);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) int design_avx2(const double* r, int order, DstDesignScratch& s,
                                               int16_t* coef) {
  return design_impl<V4, 2>(r, order, s, coef);
}

__attribute__((target("avx512f"))) int design_avx512(const double* r, int order, DstDesignScratch& s,
                                                    int16_t* coef) {
  return design_impl<V8, 4>(r, order, s, coef);
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
