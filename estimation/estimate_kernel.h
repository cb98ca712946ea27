// Blind kernel estimation: coarse to fine on a grey, gamma-adjusted pyramid,
// alternating edge prediction, a Fourier-domain kernel solve, kernel
// clean-up and a latent-image update per level, then the non-blind
// deconvolution of the colour picture with the final kernel.
#pragma once

#include "pipeline/engine.h"

namespace velmora {

inline constexpr float kPyramidRatio = 0.618f;
inline constexpr float kKernelRegularisation = 40.0f;  // wt_kreg
inline constexpr float kImageRegularisation = 0.002f;  // wt_ireg

// Pyramid levels for a kernel whose larger side is m (at least 1).
int LevelCount(int m);

// Iterations at level w (0 = finest) of a pyramid of r levels.
int IterationCount(int w, int r);

// Side of the level-w kernel for a full-size side: unchanged at level 0,
// else ceil(0.618^w side), at least 3 and odd.
int LevelKernelSide(int side, int w);

// Share of the kernel maximum below which entries are cut.
double KernelThresholdRatio(int kernelHeight, int kernelWidth);

// Side of the scale-map window for a level kernel side: 0.6 of it, odd.
int ScaleMapWindow(int kernelSide);

// The progress value of iteration t of A at level w, or a negative value
// where that iteration writes none.
float IterationProgress(int w, int t, int A);

// Returns 1 on success, 0 when the estimation failed (output untouched,
// outputKernel holds the last estimate), kEngineInvalidArgument when the
// final deconvolution refuses the kernel (an even side; the kernel is still
// written, the output untouched) or what the deconvolution reports.
// Allocation failure throws std::bad_alloc. Sizes must already be valid.
int EstimateKernel(const float* source, float* outputImage, int rows, int cols, int channels,
                   float* outputKernel, int kernelHeight, int kernelWidth, float gamma,
                   float tscale, float smoothness, int deringFactor, int reduceNoise, bool useCpu,
                   ProgressCell* progress, Highlights highlights = Highlights::kKeep);

}  // namespace velmora
