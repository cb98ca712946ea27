// Rules shared by the two coarse-to-fine pyramids of the engine (boundary
// padding and kernel estimation) and by everything that places a picture on
// a larger grid.
#pragma once

#include <cstddef>

namespace velmora {

// Levels of a pyramid with the given ratio for a kernel whose larger side is
// m: ceil((ln 3 - lnf(m)) / lnf(ratio) + 1), the logarithms of m and of the
// ratio rounded to single precision, the rest in double.
int PyramidLevelCount(int m, float ratio);

// Side of a kernel at a coarser level scaled by f: ceil(f x side) in single
// precision, at least 3, made odd.
int CoarseKernelSide(int side, float f);

// Offset of a side-long picture centred on a canvasSide-long grid.
inline int CanvasOffset(int canvasSide, int side) { return (canvasSide - side) / 2; }

// Clamps into [0, 1]; NaN becomes 0.
inline float ClampUnit(float v) { return v > 1.0f ? 1.0f : (v >= 0.0f ? v : 0.0f); }

// All zeros and a 1 at index floor(rows x cols / 2).
void SetImpulse(float* kernel, int kernelRows, int kernelCols);

// Clamps every entry into [0, 1] and divides by the sum; a kernel with
// nothing left to normalise becomes the impulse.
void NormaliseKernel(float* kernel, int kernelRows, int kernelCols);

}  // namespace velmora
