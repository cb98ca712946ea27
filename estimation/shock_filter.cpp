#include "estimation/shock_filter.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "pipeline/parallel_for.h"
#include "pipeline/spectral.h"

namespace velmora {

namespace {

// Every term is formed before the selections, so that the loops below need
// no branch and vectorise.
inline float Minmod(float minus, float plus) {
  const float smaller = std::min(std::fabs(minus), std::fabs(plus));
  return minus * plus < 0.0f ? 0.0f : smaller;
}

inline float Sign(float e) { return e > 0.0f ? 1.0f : (e < 0.0f ? -1.0f : 0.0f); }

enum RowKind { kTopRow, kInnerRow, kBottomRow };

// The moved value of one pixel from its one-sided differences along the
// row (xm, xp), the second difference along it (ixx) and the central x
// differences of the rows below and above (cb, ca); p points at the pixel,
// w is the row length. The vertical terms follow from the row's kind.
template <RowKind kind>
inline float Moved(const float* p, std::ptrdiff_t w, float xm, float xp, float ixx, float cb,
                   float ca, float dt, float h) {
  const float ym = kind == kTopRow ? 0.0f : p[0] - p[-w];
  const float yp = kind == kBottomRow ? 0.0f : p[w] - p[0];
  const float gx = (xm + xp) / 2.0f;
  const float gy = (ym + yp) / 2.0f;
  const float mx = Minmod(xm, xp), my = Minmod(ym, yp);
  const float g = std::sqrt(mx * mx + my * my);
  const float activity = std::fabs(gx) + std::fabs(gy);
  const float iyy = kind == kTopRow ? yp : (kind == kBottomRow ? -ym : p[w] + p[-w] - 2.0f * p[0]);
  const float ixy = (cb - ca) / 2.0f;
  const float curvature = ixx * gx * gx + 2.0f * ixy * gx * gy + iyy * gy * gy;
  const float e = activity != 0.0f ? curvature : 0.0f;
  return p[0] + dt * (-Sign(e) * g / h);
}

// One explicit update of row y from the image as it was at the start of
// the iteration. The two end pixels keep only their inward differences; the
// loop between them has no branch on the position and vectorises.
template <RowKind kind>
void UpdateRow(const float* image, float* out, int width, int y, float dt, float h) {
  const std::ptrdiff_t w = width;
  const float* row = image + GridSize(y, width);
  // The rows whose central x differences give the cross derivative.
  const float* below = kind == kBottomRow ? row : row + w;
  const float* above = kind == kTopRow ? row : row - w;
  float* o = out + GridSize(y, width);
  const int last = width - 1;
  {
    const float xp = row[1] - row[0];
    o[0] = Moved<kind>(row, w, 0.0f, xp, xp, (0.0f + (below[1] - below[0])) / 2.0f,
                       (0.0f + (above[1] - above[0])) / 2.0f, dt, h);
  }
  for (int x = 1; x < last; ++x) {
    const float* p = row + x;
    const float xm = p[0] - p[-1], xp = p[1] - p[0];
    const float cb = ((below[x] - below[x - 1]) + (below[x + 1] - below[x])) / 2.0f;
    const float ca = ((above[x] - above[x - 1]) + (above[x + 1] - above[x])) / 2.0f;
    o[x] = Moved<kind>(p, w, xm, xp, p[1] + p[-1] - 2.0f * p[0], cb, ca, dt, h);
  }
  {
    const float xm = row[last] - row[last - 1];
    o[last] = Moved<kind>(row + last, w, xm, 0.0f, -xm,
                          ((below[last] - below[last - 1]) + 0.0f) / 2.0f,
                          ((above[last] - above[last - 1]) + 0.0f) / 2.0f, dt, h);
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
    for (int y = 0; y < height; ++y) {
      if (y == 0)
        UpdateRow<kTopRow>(source, target, width, y, dt, h);
      else if (y == height - 1)
        UpdateRow<kBottomRow>(source, target, width, y, dt, h);
      else
        UpdateRow<kInnerRow>(source, target, width, y, dt, h);
    }
    source = target;
  }
}

}  // namespace velmora
