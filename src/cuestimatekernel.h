// The GPU steps of blind kernel estimation: the Fourier-domain kernel solve,
// the latent-image update and the shock filter. Host buffers in and out;
// every call uploads what it needs and frees all device memory before it
// returns. A failed device call throws GpuFault (gpu_check.h).
#pragma once

#include "src/gpu_elements.cuh"

namespace velmora::gpu {

// What the two solvers read of a pyramid level, as whole spectra (the
// device transforms are complex to complex). The caller owns every array.
struct GpuLevelSpectra {
  // Kernel solve: the blurred image's gradient spectra on the zero-padded
  // grid of padRows x padCols, the image placed at (padTop, padLeft).
  const Float2* BxFre = nullptr;
  const Float2* ByFre = nullptr;
  int padRows = 0, padCols = 0, padTop = 0, padLeft = 0;
  // Latent update, level grid (rows x cols): the edge-tapered image's
  // spectrum and the real derivative weights.
  const Float2* FreqB = nullptr;
  const float* FreqWt = nullptr;
  const float* FreqDerrs = nullptr;
};

// Raw kernel estimate V (kernelRows x kernelCols, caller's) from the
// predicted gradients gradX, gradY (rows x cols): 0.5 (conj(Ix) Bx +
// conj(Iy) By) / (0.5 (|Ix|^2 + |Iy|^2) + wt_kreg) per padded frequency.
void EstimateKernelFFTGpu(const float* gradX, const float* gradY, const GpuLevelSpectra& spectra,
                          int rows, int cols, int kernelRows, int kernelCols, float* V,
                          float wt_kreg);

// Overwrites O (rows x cols) with W conj(K) B / (W |K|^2 + wt_ireg D) for
// the kernel V. Overshoots away from the side a pixel was on are clipped
// (above 1 from below 0.9, below 0 from 0.9 up), with or without the check;
// with checkFlag the call returns false when more than a fifth of the
// counted pixels were clipped. O holds the new image either way.
bool UpdateLatentImageGpu(const float* V, float* O, const GpuLevelSpectra& spectra, int rows,
                          int cols, int kernelRows, int kernelCols, float wt_ireg, bool checkFlag);

// The shock filter of the CPU path on the device: output (height x width)
// receives input after `iterations` explicit updates with time step dt and
// spacing divisor h. No iterations, or a side shorter than 2, copy input
// without touching the device.
void ShockFilterGpu(const float* input, float* output, int width, int height, int iterations,
                    float dt, float h);

}  // namespace velmora::gpu
