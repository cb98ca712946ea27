#include "estimation/final_restore.h"

#include <algorithm>

#include "estimation/kernel_cleanup.h"
#include "pipeline/deconvolve.h"
#include "pipeline/progress.h"
#include "pipeline/spectral.h"

namespace velmora {

int RestoreWithKernel(const float* source, float* outputImage, int rows, int cols, int channels,
                      const float* kernel, int kernelRows, int kernelCols, float smoothness,
                      int deringFactor, int reduceNoise, bool useCpu, ProgressCell* progress,
                      Highlights highlights) {
  WriteProgress(progress, 50.0f);
  const size_t n = GridSize(rows, cols) * channels;
  int result = 1;
  if (IsImpulseLike(kernel, kernelRows, kernelCols)) {
    std::copy_n(source, n, outputImage);
  } else if (kernelRows % 2 == 0 || kernelCols % 2 == 0) {
    // The solvers refuse even sides (and say so): run them on scratch so
    // that the caller's output stays untouched, and report the refusal.
    FloatArray scratch(n);
    const int refused = DeconvolveImage(source, scratch.get(), kernel, rows, cols, channels,
                                        kernelRows, kernelCols, smoothness, deringFactor,
                                        reduceNoise, useCpu, progress, highlights);
    result = refused != 0 ? refused : kEngineInvalidArgument;
  } else {
    const int solved = DeconvolveImage(source, outputImage, kernel, rows, cols, channels,
                                       kernelRows, kernelCols, smoothness, deringFactor,
                                       reduceNoise, useCpu, progress, highlights);
    if (solved != 0) result = solved;
  }
  WriteProgress(progress, 99.0f);
  return result;
}

}  // namespace velmora
