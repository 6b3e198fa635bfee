// Prediction filter design: normal equations of the autocorrelation,
// Cholesky factorisation with an early stop, solution and quantisation to
// 9-bit coefficients.
#pragma once

#include <cstdint>

namespace varn {

// Entries of a design's factor: the lower triangle of order 128, and room
// for the vector lanes read past its end.
constexpr int kDstFactorEntries = 128 * 129 / 2 + 64;

// Scratch for one design: the factor and two vectors.
struct DstDesignScratch {
  double* factor = nullptr;  // kDstFactorEntries
  double* y = nullptr;       // at least 128
  double* a = nullptr;       // at least 128
};

// r[0..order]: autocorrelation. Writes the effective order (1..order) and
// its quantised coefficients; returns the effective order.
int dst_design_filter(const double* r, int order, DstDesignScratch& scratch, int16_t* coef);

}  // namespace varn
