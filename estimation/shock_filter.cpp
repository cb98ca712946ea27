#include "estimation/shock_filter.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "pipeline/parallel_for.h"
#include "pipeline/spectral.h"

namespace velmora {

namespace {

// Central difference along a line at index i of n >= 2 samples; each end
// keeps only its inward difference.
inline float Central(const float* p, std::ptrdiff_t stride, int i, int n) {
  const float minus = i > 0 ? p[0] - p[-stride] : 0.0f;
  const float plus = i < n - 1 ? p[stride] - p[0] : 0.0f;
  return (minus + plus) / 2.0f;
}

inline float Minmod(float minus, float plus) {
  return minus * plus < 0.0f ? 0.0f : std::min(std::fabs(minus), std::fabs(plus));
}

inline float Sign(float e) { return e > 0.0f ? 1.0f : (e < 0.0f ? -1.0f : 0.0f); }

// One explicit update of row y from the image as it was at the start of
// the iteration: the speed-times-direction term, moved by dt.
void UpdateRow(const float* image, float* out, int width, int height, int y, float dt, float h) {
  const std::ptrdiff_t w = width;
  const float* row = image + GridSize(y, width);
  // The rows whose central x differences give the cross derivative.
  const float* below = y + 1 < height ? row + w : row;
  const float* above = y > 0 ? row - w : row;
  float* o = out + GridSize(y, width);
  for (int x = 0; x < width; ++x) {
    const float* p = row + x;
    const float xm = x > 0 ? p[0] - p[-1] : 0.0f;
    const float xp = x < width - 1 ? p[1] - p[0] : 0.0f;
    const float ym = y > 0 ? p[0] - p[-w] : 0.0f;
    const float yp = y < height - 1 ? p[w] - p[0] : 0.0f;
    const float gx = (xm + xp) / 2.0f;
    const float gy = (ym + yp) / 2.0f;
    const float mx = Minmod(xm, xp), my = Minmod(ym, yp);
    const float g = std::sqrt(mx * mx + my * my);
    const float activity = std::fabs(gx) + std::fabs(gy);
    const float ixx = x == 0 ? xp : (x == width - 1 ? -xm : p[1] + p[-1] - 2.0f * p[0]);
    const float iyy = y == 0 ? yp : (y == height - 1 ? -ym : p[w] + p[-w] - 2.0f * p[0]);
    const float ixy = (Central(below + x, 1, x, width) - Central(above + x, 1, x, width)) / 2.0f;
    const float e = activity != 0.0f ? ixx * gx * gx + 2.0f * ixy * gx * gy + iyy * gy * gy : 0.0f;
    o[x] = p[0] + dt * (-Sign(e) * g / h);
  }
}

}  // namespace

void ShockFilter(const float* input, float* output, int width, int height, int iterations,
                 float dt, float h) {
  const size_t n = GridSize(height, width);
  if (width < 2 || height < 2 || iterations < 1) {
    std::copy_n(input, n, output);
    return;
  }
  // Every iteration reads the image as it was at its start: the rows are
  // written to the other buffer of a pair, the last iteration to output.
  FloatArray spare(iterations > 1 ? n : 0);
  const float* source = input;
  for (int it = 0; it < iterations; ++it) {
    float* target = (iterations - it) % 2 == 1 ? output : spare.get();
    VELMORA_PARALLEL_FOR(n)
    for (int y = 0; y < height; ++y) UpdateRow(source, target, width, height, y, dt, h);
    source = target;
  }
}

}  // namespace velmora
