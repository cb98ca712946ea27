// How far a GPU step's answer may stray from its CPU gold routine before the
// GPU counts as disagreeing; the self-check and the GPU tests share these.
#pragma once

#include <cstddef>

namespace velmora {

// Relative errors the GPU may show against the CPU (||gpu - cpu|| / ||cpu||
// over the whole result). Both paths compute in single precision, with
// different transforms and, on the device, fused multiply-adds; rounding
// alone stays near 1e-6. The bounds leave room for that, amplified by ten
// padding steps per level and by the solvers' thresholds, while any wrong
// formula, index or boundary rule gives errors of 1e-2 and more.
inline constexpr double kPaddingBound = 1e-4;
inline constexpr double kSolveBound = 1e-3;
inline constexpr double kEstimationBound = 1e-3;

// ||gpu - cpu|| / ||cpu|| over n samples; infinite when the difference is
// not finite, or when cpu is all zeros and gpu is not.
double RelativeError(const float* gpu, const float* cpu, size_t n);

}  // namespace velmora
