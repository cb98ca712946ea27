#include "src/gpu_host.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdio>

namespace velmora::gpu {

namespace {
std::atomic<LaunchCheckFunction> g_launchCheck{nullptr};
}  // namespace

void SetLaunchCheck(LaunchCheckFunction check) { g_launchCheck.store(check); }

void LaunchCheck() {
  if (LaunchCheckFunction check = g_launchCheck.load()) check();
}

namespace {

int Wrap(int i, int n) { return ((i % n) + n) % n; }

size_t At(int r, int c, int cols) { return static_cast<size_t>(r) * cols + c; }

std::string MiB(size_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f MiB", static_cast<double>(bytes) / (1 << 20));
  return text;
}

}  // namespace

void PlaceKernelWrapped(const float* kernel, int kernelRows, int kernelCols, int rows, int cols,
                        Float2* grid) {
  std::fill_n(grid, static_cast<size_t>(rows) * cols, MakeFloat2(0.0f, 0.0f));
  for (int r = 0; r < kernelRows; ++r)
    for (int c = 0; c < kernelCols; ++c)
      grid[At(Wrap(rows - kernelRows / 2 + r, rows), Wrap(cols - kernelCols / 2 + c, cols), cols)] =
          MakeFloat2(kernel[At(r, c, kernelCols)], 0.0f);
}

void CutKernelWrapped(const Float2* grid, int rows, int cols, int kernelRows, int kernelCols,
                      float* kernel) {
  const float count = static_cast<float>(static_cast<size_t>(rows) * cols);
  for (int r = 0; r < kernelRows; ++r)
    for (int c = 0; c < kernelCols; ++c)
      kernel[At(r, c, kernelCols)] =
          grid[At(Wrap(rows - kernelRows / 2 + r, rows), Wrap(cols - kernelCols / 2 + c, cols), cols)]
              .x /
          count;
}

void RealToComplex(const float* plane, size_t n, Float2* grid) {
  for (size_t i = 0; i < n; ++i) grid[i] = MakeFloat2(plane[i], 0.0f);
}

float SmallestPositive(const float* values, size_t n) {
  float smallest = FLT_MAX;
  for (size_t i = 0; i < n; ++i)
    if (values[i] > 0.0f && values[i] < smallest) smallest = values[i];
  return smallest;
}

void ExpandHalfSpectrum(const float* half, int rows, int cols, Float2* full) {
  const int halfCols = cols / 2 + 1;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < halfCols; ++c) {
      const float* v = half + 2 * At(r, c, halfCols);
      full[At(r, c, cols)] = MakeFloat2(v[0], v[1]);
    }
    const int mirror = Wrap(rows - r, rows);
    for (int c = halfCols; c < cols; ++c) {
      const float* v = half + 2 * At(mirror, cols - c, halfCols);
      full[At(r, c, cols)] = MakeFloat2(v[0], -v[1]);
    }
  }
}

void ExpandHalfReal(const float* half, int rows, int cols, float* full) {
  const int halfCols = cols / 2 + 1;
  for (int r = 0; r < rows; ++r) {
    std::copy_n(half + At(r, 0, halfCols), halfCols, full + At(r, 0, cols));
    const int mirror = Wrap(rows - r, rows);
    for (int c = halfCols; c < cols; ++c) full[At(r, c, cols)] = half[At(mirror, cols - c, halfCols)];
  }
}

void PlaceInPaddedComplexGrid(const float* plane, int rows, int cols, int padRows, int padCols,
                              int padTop, int padLeft, Float2* grid) {
  std::fill_n(grid, static_cast<size_t>(padRows) * padCols, MakeFloat2(0.0f, 0.0f));
  for (int r = 0; r < rows; ++r) {
    const int y = r + padTop;
    if (y < 0 || y >= padRows) continue;
    for (int c = 0; c < cols; ++c) {
      const int x = c + padLeft;
      if (x >= 0 && x < padCols) grid[At(y, x, padCols)] = MakeFloat2(plane[At(r, c, cols)], 0.0f);
    }
  }
}

ClipCounts ApplyLatentClipRule(const Float2* inverse, float normal, size_t n, float* latent) {
  ClipCounts counts;
  for (size_t i = 0; i < n; ++i) {
    const float old = latent[i];
    float v = inverse[i].x * normal;
    if (old < 0.9f) {
      ++counts.counted;
      if (v > 1.0f) {
        v = 1.0f;
        ++counts.clipped;
      }
    } else if (old > 0.1f) {
      ++counts.counted;
      if (v < 0.0f) {
        v = 0.0f;
        ++counts.clipped;
      }
    }
    latent[i] = v;
  }
  return counts;
}

int GpuStepCount(float lambda) {
  int steps = 0;
  for (float t = 1.0f / lambda; GpuStepContinues(t, lambda); t = t * 0.5f) ++steps;
  return steps;
}

size_t GpuJobBytes(int padRows, int padCols) {
  // Per canvas pixel: the estimate, both fields and the observed image
  // (float4 arrays), both denominators, the three numerator planes, the
  // result, the transfer function and the spectra buffer, then a step's
  // fields and adjoint planes, and cuFFT's work area.
  const size_t n = static_cast<size_t>(padRows) * padCols;
  const size_t perPixel = 4 * 16 + 2 * 4 + 24 + 16 + 8 + 24 + 2 * 16 + 24 + 16;
  return n * perPixel + (size_t(64) << 20);
}

std::string GpuFitMessage(int padRows, int padCols, const DeviceLimits& limits) {
  if (std::max(padRows, padCols) > limits.maxTexture3dSide)
    return "the picture needs a " + std::to_string(padCols) + " x " + std::to_string(padRows) +
           " canvas, more than the GPU's " + std::to_string(limits.maxTexture3dSide) +
           " per side; running on the CPU";
  const size_t needed = GpuJobBytes(padRows, padCols);
  if (needed > limits.freeBytes)
    return "the picture needs about " + MiB(needed) + " of GPU memory; " + MiB(limits.freeBytes) +
           " are free; running on the CPU";
  return {};
}

}  // namespace velmora::gpu
