#include "dst/dst_filter_design.h"

#include <cmath>

namespace varn {

int dst_design_filter(const double* r, int order, DstDesignScratch& s, int16_t* coef) {
  const int P = order;
  double* L = s.factor;
  const double r0 = r[0];
  const double stop = 0.334 * r0;

  // Row-by-row Cholesky factorisation of M[i][j] = r[|i - j|]. A pivot at
  // or below a third of r[0] ends the filter there.
  int eff = P;
  for (int i = 0; i < P; ++i) {
    double* Li = L + static_cast<long>(i) * P;
    for (int j = 0; j < i; ++j) {
      const double* Lj = L + static_cast<long>(j) * P;
      double v = r[i - j];
      for (int t = 0; t < j; ++t) v -= Li[t] * Lj[t];
      Li[j] = v / Lj[j];
    }
    double d = r0;
    for (int t = 0; t < i; ++t) d -= Li[t] * Li[t];
    if (!(d > stop)) {
      eff = i;
      break;
    }
    Li[i] = std::sqrt(d);
  }

  double* a = s.a;
  if (eff == 0) {
    eff = 1;
    a[0] = r[1] < 0 ? -1.0 : 1.0;
  } else {
    double* y = s.y;
    for (int i = 0; i < eff; ++i) {
      const double* Li = L + static_cast<long>(i) * P;
      double v = r[i + 1];
      for (int t = 0; t < i; ++t) v -= Li[t] * y[t];
      y[i] = v / Li[i];
    }
    for (int i = eff - 1; i >= 0; --i) {
      double v = y[i];
      for (int t = i + 1; t < eff; ++t) v -= L[static_cast<long>(t) * P + i] * a[t];
      a[i] = v / L[static_cast<long>(i) * P + i];
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

}  // namespace varn
