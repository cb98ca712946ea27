// Host-side steps of the GPU routines that involve no device: staging grids,
// the host reductions and clipping rules, the step schedule and the device
// size limits. Plain C++, so the tests check them on any machine.
#pragma once

#include <cstddef>
#include <string>

#include "src/gpu_elements.cuh"

namespace velmora::gpu {

// Called between the device launches of the long GPU loops, so that a job
// asked to stop does (the engine sets it; by default nothing is checked). It
// may throw, which ends the routine with its device memory freed.
using LaunchCheckFunction = void (*)();
void SetLaunchCheck(LaunchCheckFunction check);
void LaunchCheck();

// Zeroes grid (rows x cols) and puts kernel (kernelRows x kernelCols) into it
// with its centre tap at the origin, wrapping around: element (r, c) goes to
// row (r - kernelRows / 2) mod rows, column (c - kernelCols / 2) mod cols, as
// a real value.
void PlaceKernelWrapped(const float* kernel, int kernelRows, int kernelCols, int rows, int cols,
                        Float2* grid);

// The reverse: kernel[r][c] = real part of grid at the same wrapped place
// divided by rows x cols.
void CutKernelWrapped(const Float2* grid, int rows, int cols, int kernelRows, int kernelCols,
                      float* kernel);

// Complex grid with plane's values as real parts, imaginary 0.
void RealToComplex(const float* plane, size_t n, Float2* grid);

// The smallest value that is strictly positive, starting from the largest
// float (so a grid with none gives 3.4028235e38); 0, negatives and NaN are
// skipped.
float SmallestPositive(const float* values, size_t n);

// The whole rows x cols spectrum of a real plane from its half spectrum
// (rows x (cols / 2 + 1) interleaved pairs) by conjugate symmetry, and the
// same for a real, even quantity stored on the half grid.
void ExpandHalfSpectrum(const float* half, int rows, int cols, Float2* full);
void ExpandHalfReal(const float* half, int rows, int cols, float* full);

// The zero-padded complex grid (padRows x padCols) of the kernel solve with
// plane (rows x cols) at (padTop, padLeft).
void PlaceInPaddedComplexGrid(const float* plane, int rows, int cols, int padRows, int padCols,
                              int padTop, int padLeft, Float2* grid);

// The latent update's per-pixel rule on the GPU path: with old = latent[i]
// and v = real part of inverse[i] x normal, a pixel with old < 0.9 is
// counted and clipped to 1 when above 1; otherwise one with old > 0.1 is
// counted and clipped to 0 when below 0; latent[i] = v.
struct ClipCounts {
  size_t counted = 0, clipped = 0;
};
ClipCounts ApplyLatentClipRule(const Float2* inverse, float normal, size_t n, float* latent);
// The check of the latent update: more than a fifth of the counted pixels clipped.
inline bool TooManyClipped(const ClipCounts& c) {
  return static_cast<double>(c.clipped) > 0.2 * static_cast<double>(c.counted);
}

// Whether the half-quadratic loop of the GPU solvers takes another step:
// t > 0.1 (as a float) and t x lambda > 2^-10. The product is compared
// unrounded (exact in double): float(1 / lambda) x lambda can lie just above
// 1, which allows an eleventh step, and rounding it to a float would lose that.
inline bool GpuStepContinues(float t, float lambda) {
  return t > 0.1f && static_cast<double>(t) * lambda > 0.0009765625;
}
// Number of steps one loop runs from t = 1 / lambda (as float).
int GpuStepCount(float lambda);

// What the device offers a job.
struct DeviceLimits {
  int maxTexture3dSide = 0;  // the smallest of the 3-D texture limits
  size_t freeBytes = 0;
};
// Device memory the largest solve of a padRows x padCols colour canvas
// holds at once (the noise-robust solve, transform work areas included).
size_t GpuJobBytes(int padRows, int padCols);
// Empty when a canvas of padRows x padCols fits the device; otherwise the
// message that sends the job to the CPU.
std::string GpuFitMessage(int padRows, int padCols, const DeviceLimits& limits);

}  // namespace velmora::gpu
