#include "pipeline/pyramid.h"

#include <algorithm>
#include <cmath>

#include "pipeline/spectral.h"

namespace velmora {

int PyramidLevelCount(int m, float ratio) {
  const double levels = (std::log(3.0) - static_cast<double>(LogF(static_cast<float>(m)))) /
                            static_cast<double>(LogF(ratio)) +
                        1.0;
  return static_cast<int>(std::ceil(levels));
}

int CoarseKernelSide(int side, float f) {
  int s = ScaledSize(side, f);
  if (s < 4) s = 3;
  if (s % 2 == 0) s += 1;
  return s;
}

void SetImpulse(float* kernel, int kernelRows, int kernelCols) {
  const size_t n = GridSize(kernelRows, kernelCols);
  std::fill_n(kernel, n, 0.0f);
  kernel[n / 2] = 1.0f;
}

void NormaliseKernel(float* kernel, int kernelRows, int kernelCols) {
  const size_t n = GridSize(kernelRows, kernelCols);
  float sum = 0.0f;
  for (size_t i = 0; i < n; ++i) {
    kernel[i] = ClampUnit(kernel[i]);
    sum += kernel[i];
  }
  if (!(sum > 0.0f)) {
    SetImpulse(kernel, kernelRows, kernelCols);
    return;
  }
  for (size_t i = 0; i < n; ++i) kernel[i] = kernel[i] / sum;
}

}  // namespace velmora
