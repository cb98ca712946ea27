// A small host kernel to and from its transfer function on the device, for
// the modules that need it (nvcc only).
#pragma once

#include <vector>

#include "src/gpu_host.h"
#include "src/gpu_runtime.cuh"

namespace velmora::gpu {

// spectrum: rows x cols device values owned by the caller, receives the
// forward transform of the wrapped kernel (centre tap at the origin).
inline void KernelToSpectrumGpu(const float* kernel, Float2* spectrum, int rows, int cols,
                                int kernelRows, int kernelCols, const char* file, int line) {
  const size_t n = static_cast<size_t>(rows) * cols;
  std::vector<Float2> grid(n);
  PlaceKernelWrapped(kernel, kernelRows, kernelCols, rows, cols, grid.data());
  DeviceBuffer<Float2> staged(n, file, line);
  CopyToDevice(staged.get(), grid.data(), n, file, line);
  const FftPlan plan(rows, cols, file, line);
  plan.Execute(staged.get(), spectrum, kForward, line);
}

// kernel (kernelRows x kernelCols host floats) from a rows x cols device
// spectrum: the wrapped crop of the inverse transform's real part / (rows x cols).
inline void KernelFromSpectrumGpu(Float2* spectrum, float* kernel, int rows, int cols,
                                  int kernelRows, int kernelCols, const char* file, int line) {
  const size_t n = static_cast<size_t>(rows) * cols;
  DeviceBuffer<Float2> spatial(n, file, line);
  {
    const FftPlan plan(rows, cols, file, line);
    plan.Execute(spectrum, spatial.get(), kInverse, line);
  }
  std::vector<Float2> grid(n);
  CopyToHost(grid.data(), spatial.get(), n, file, line);
  CutKernelWrapped(grid.data(), rows, cols, kernelRows, kernelCols, kernel);
}

}  // namespace velmora::gpu
