#include "estimation/shock_filter.h"

#include <algorithm>
#include <cmath>

#include "pipeline/spectral.h"

namespace velmora {

namespace {

// Backward and forward differences at index i of a line of n >= 2 samples;
// p points at sample i, stride is the distance between neighbours. Each
// border keeps only its inward difference.
struct Differences {
  float minus, plus;
};

Differences OneSided(const float* p, size_t stride, int i, int n) {
  if (i == 0) return {0.0f, p[stride] - p[0]};
  if (i == n - 1) return {p[0] - p[-static_cast<std::ptrdiff_t>(stride)], 0.0f};
  return {p[0] - p[-static_cast<std::ptrdiff_t>(stride)], p[stride] - p[0]};
}

float SecondDifference(const float* p, size_t stride, int i, int n, Differences d) {
  if (i == 0) return d.plus;
  if (i == n - 1) return -d.minus;
  return p[stride] + p[-static_cast<std::ptrdiff_t>(stride)] - 2.0f * p[0];
}

// Zero across an extremum, else the smaller one-sided slope.
float Minmod(Differences d) {
  if (d.minus * d.plus < 0.0f) return 0.0f;
  return std::min(std::fabs(d.minus), std::fabs(d.plus));
}

float Sign(float e) { return e > 0.0f ? 1.0f : (e < 0.0f ? -1.0f : 0.0f); }

void CentralX(const float* image, float* ix, int width, int height) {
  for (int y = 0; y < height; ++y) {
    const float* row = image + GridSize(y, width);
    for (int x = 0; x < width; ++x) {
      const Differences d = OneSided(row + x, 1, x, width);
      ix[GridSize(y, width) + x] = (d.minus + d.plus) / 2.0f;
    }
  }
}

// The speed-times-direction term U of every pixel, from the image as it is
// at the start of the iteration.
void ShockSpeed(const float* image, const float* ix, float* speed, int width, int height,
                float h) {
  const size_t w = static_cast<size_t>(width);
  for (int y = 0; y < height; ++y) {
    const float* ixRow = ix + GridSize(y, width);
    const float* below = y + 1 < height ? ixRow + w : ixRow;
    const float* above = y > 0 ? ixRow - w : ixRow;
    for (int x = 0; x < width; ++x) {
      const size_t i = GridSize(y, width) + x;
      const float* p = image + i;
      const Differences dxd = OneSided(p, 1, x, width);
      const Differences dyd = OneSided(p, w, y, height);
      const float gx = ixRow[x];
      const float gy = (dyd.minus + dyd.plus) / 2.0f;
      const float mx = Minmod(dxd), my = Minmod(dyd);
      const float g = std::sqrt(mx * mx + my * my);
      const float activity = std::fabs(gx) + std::fabs(gy);
      const float ixx = SecondDifference(p, 1, x, width, dxd);
      const float iyy = SecondDifference(p, w, y, height, dyd);
      const float ixy = (below[x] - above[x]) / 2.0f;
      const float e =
          activity != 0.0f ? ixx * gx * gx + 2.0f * ixy * gx * gy + iyy * gy * gy : 0.0f;
      speed[i] = -Sign(e) * g / h;
    }
  }
}

}  // namespace

void ShockFilter(const float* input, float* output, int width, int height, int iterations,
                 float dt, float h) {
  const size_t n = GridSize(height, width);
  std::copy_n(input, n, output);
  if (width < 2 || height < 2 || iterations < 1) return;
  FloatArray ix(n), speed(n);
  for (int it = 0; it < iterations; ++it) {
    CentralX(output, ix.get(), width, height);
    ShockSpeed(output, ix.get(), speed.get(), width, height, h);
    for (size_t i = 0; i < n; ++i) output[i] = output[i] + dt * speed[i];
  }
}

}  // namespace velmora
