// Orientation bins of the prediction's threshold selections. The bins are
// defined by single-precision atan2 against fixed angles; the whole-plane
// versions decide by comparisons wherever the direction is clearly away from
// a bin edge (no rounding of atan2 can move it there) and call atan2 only
// for the rest: zeros, non-finite values and directions next to an edge.
#pragma once

#include <cstddef>
#include <cmath>
#include <cstdint>

namespace velmora {

// The gradient direction folded into [0, pi) and cut into quarters.
uint8_t GradientBin(float gx, float gy);
// The direction over the full circle in quarters, from -pi.
uint8_t ScaleBin(float dx, float dy);

// The same by comparisons alone, or kUndecidedBin where only atan2 can tell.
inline constexpr uint8_t kUndecidedBin = 255;
// Directions within this share of the vector's size of an edge go to atan2;
// its rounding is five orders of magnitude finer.
inline constexpr float kEdgeBand = 1e-4f;

inline uint8_t QuickGradientBin(float gx, float gy) {
  // Folding into [0, pi) turns the vector around when it points downwards.
  const float u = gy < 0.0f ? -gx : gx;
  const float v = gy < 0.0f ? -gy : gy;
  const float size = std::fabs(u) + std::fabs(v);
  // Near the horizontal atan2 may even underflow to a signed zero.
  const bool clear = std::isfinite(size) && v > kEdgeBand * size && std::fabs(u) > kEdgeBand * size &&
                     std::fabs(v - u) > kEdgeBand * size && std::fabs(v + u) > kEdgeBand * size;
  const uint8_t bin = v < u ? 0 : (u > 0.0f ? 1 : (v > -u ? 2 : 3));
  return clear ? bin : kUndecidedBin;
}

inline uint8_t QuickScaleBin(float dx, float dy) {
  const float size = std::fabs(dx) + std::fabs(dy);
  const bool clear = std::isfinite(size) && std::fabs(dx) > kEdgeBand * size &&
                     std::fabs(dy) > kEdgeBand * size;
  const uint8_t bin = dy < 0.0f ? (dx < 0.0f ? 0 : 1) : (dx > 0.0f ? 2 : 3);
  return clear ? bin : kUndecidedBin;
}


// bins[i] = GradientBin(gx[i], gy[i]) for n values.
void GradientBins(const float* gx, const float* gy, uint8_t* bins, size_t n);

}  // namespace velmora
