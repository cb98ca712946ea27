// The GPU steps of boundary padding: a level's spectra and one refinement
// step of one canvas plane. Host buffers in and out; nothing stays on the
// device between calls. A failed device call throws GpuFault (gpu_check.h).
#pragma once

#include "src/gpu_elements.cuh"

namespace velmora::gpu {

// Fills the four rows x cols host spectra of a padding level for the level's
// kernel (kernelRows x kernelCols, host): the kernel's transfer function F,
// |F|^2, the derivative weight Wt and the first-difference energy D (real
// values as (v, 0)). Writes rows and cols to *rowsOut and *colsOut first.
void BuildPaddingSpectraGpu(const float* kernel, int cols, int rows, int kernelCols, int kernelRows,
                            Float2* FreqF, Float2* FreqF2, Float2* FreqWt, Float2* FreqDerrs,
                            int* rowsOut, int* colsOut);

// One refinement step of plane (rows x cols host floats, in place) with a
// level's spectra: deconvolve, blur again, smooth, clamp to [0, 1].
void RefinePaddingGpu(float* plane, int cols, int rows, float wt_ireg, float wt_breg,
                      const Float2* FreqF, const Float2* FreqF2, const Float2* FreqWt,
                      const Float2* FreqDerrs);

}  // namespace velmora::gpu
