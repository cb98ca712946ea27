#include "estimation/orientation_bins.h"

#include <cmath>
#include <numbers>

#include "pipeline/parallel_for.h"

namespace velmora {

uint8_t GradientBin(float gx, float gy) {
  float theta = std::atan2(gy, gx);
  if (theta < 0.0f) theta = static_cast<float>(theta + std::numbers::pi);
  if (theta < 0.7853982f) return 0;
  if (theta < 1.5707964f) return 1;
  if (theta < 2.35619455575943) return 2;
  return 3;
}

uint8_t ScaleBin(float dx, float dy) {
  const float theta = std::atan2(dy, dx);
  if (theta < -1.5708f) return 0;
  if (theta < 0.0f) return 1;
  if (theta < 1.5708f) return 2;
  return 3;
}

void GradientBins(const float* gx, const float* gy, uint8_t* bins, size_t n) {
  VELMORA_PARALLEL_FOR(n)
  for (size_t i = 0; i < n; ++i) bins[i] = QuickGradientBin(gx[i], gy[i]);
  VELMORA_PARALLEL_FOR(n)
  for (size_t i = 0; i < n; ++i)
    if (bins[i] == kUndecidedBin) bins[i] = GradientBin(gx[i], gy[i]);
}

}  // namespace velmora
