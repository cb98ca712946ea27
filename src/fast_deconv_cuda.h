// The GPU total-variation solvers: all three colour channels at once as
// float4 pixels, solved by half-quadratic splitting. Host buffers in and
// out; the device state lives for one solve. A failed device call throws
// GpuFault (gpu_check.h) after freeing what the solve held.
#pragma once

namespace velmora::gpu {

// pixels: rows x cols x 4 interleaved host floats (three colours and a
// fourth channel of 0), deconvolved in place with kernel (kernelRows x
// kernelCols host floats). lambda is the total-variation weight. A loop that
// takes no step leaves pixels unchanged. Both always return true.
bool RunTVL2Gpu(float* pixels, int rows, int cols, const float* kernel, int kernelRows,
                int kernelCols, float lambda);
// The noise-robust variant: an L1 data term, five rounds of a tightening
// data threshold around the TV-L2 steps.
bool RunTVL1Gpu(float* pixels, int rows, int cols, const float* kernel, int kernelRows,
                int kernelCols, float lambda);

}  // namespace velmora::gpu
