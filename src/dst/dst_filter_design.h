// Prediction filter design: normal equations of the autocorrelation,
// Cholesky factorisation with an early stop, solution and quantisation to
// 9-bit coefficients.
#pragma once

#include <cstdint>

namespace varn {

// Scratch for one design: the factor (order x order) and two vectors.
struct DstDesignScratch {
  double* factor = nullptr;  // at least 128 x 128
  double* y = nullptr;       // at least 128
  double* a = nullptr;       // at least 128
};

// r[0..order]: autocorrelation. Writes the effective order (1..order) and
// its quantised coefficients; returns the effective order.
int dst_design_filter(const double* r, int order, DstDesignScratch& scratch, int16_t* coef);

}  // namespace varn
