// The classic blind kernel estimation: coarse to fine on a grey,
// gamma-adjusted pyramid, alternating edge prediction, a Fourier-domain
// kernel solve, kernel clean-up and a latent-image update per level. It
// returns the kernel; the engine restores the picture with it.
#pragma once

#include "pipeline/engine_types.h"
#include "pipeline/highlights.h"

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

// The classic estimator. source: rows x cols x channels planar, read only;
// kernel (kernelHeight x kernelWidth, caller-owned) receives the estimate,
// non-negative and centred. Progress runs to 50. Returns false when the
// estimation failed (a latent update broke down), with kernel holding what
// it reached. Allocation failure throws std::bad_alloc, a stop request
// JobCancelled. Sizes must already be valid (see the engine's entries).
bool EstimateClassicKernel(const float* source, int rows, int cols, int channels, float* kernel,
                           int kernelHeight, int kernelWidth, float gamma, float tscale,
                           bool useCpu, ProgressCell* progress,
                           Highlights highlights = Highlights::kKeep);

// Memory. The estimation's peak for a rows x cols picture, in floats: the
// grey pyramid, the level spectra and the level's scratch at the finest
// level, or the spectra being built.
double ClassicEstimationPeakFloats(int rows, int cols, int kernelRows, int kernelCols);

}  // namespace velmora
