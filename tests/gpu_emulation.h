// What the host emulations of the device routines share: launches run thread
// by thread with the device's geometry, and the CPU's complex transforms in
// place of cuFFT.
#pragma once

#include <cstddef>
#include <vector>

#include "pipeline/spectral.h"
#include "src/gpu_elements.cuh"
#include "src/gpu_launch.h"

namespace velmora::gpu::emulation {

// Runs body(x, y, i) for every thread of a rows x cols launch that names an
// element, i = y * cols + x, as the kernels index; threads of the partial
// last blocks do nothing.
template <typename Body>
void ForEachThread(int rows, int cols, Body body) {
  const LaunchShape s = Launch2d(rows, cols);
  for (unsigned by = 0; by < s.gridY; ++by)
    for (unsigned bx = 0; bx < s.gridX; ++bx)
      for (unsigned ty = 0; ty < s.blockY; ++ty)
        for (unsigned tx = 0; tx < s.blockX; ++tx) {
          const unsigned x = bx * s.blockX + tx, y = by * s.blockY + ty;
          if (InGrid(x, y, rows, cols)) body(x, y, static_cast<size_t>(y) * cols + x);
        }
}

// A rows x cols complex transform (sign FFTW_FORWARD or FFTW_BACKWARD,
// unnormalised); Float2 has the layout of fftwf_complex.
inline void Transform(const Float2* in, Float2* out, int rows, int cols, int sign) {
  Fft2d(reinterpret_cast<const fftwf_complex*>(in), reinterpret_cast<fftwf_complex*>(out), rows,
        cols, sign);
}

inline std::vector<Float2> Transform(const std::vector<Float2>& grid, int rows, int cols, int sign) {
  std::vector<Float2> result(grid.size());
  Transform(grid.data(), result.data(), rows, cols, sign);
  return result;
}

}  // namespace velmora::gpu::emulation
