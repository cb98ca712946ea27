// The sharp kernel estimator: coarse to fine on a pyramid of scales
// (1/sqrt 2)^i, each level alternating an L0-gradient latent step
// (l0_latent.h) with a masked least-squares kernel step
// (masked_kernel_solve.h) and a clean-up; large pictures are estimated on a
// window (estimation_window.h). The picture is then restored with the
// kernel by the same deconvolution as after the classic estimator.
#pragma once

#include "estimation/sharp_params.h"
#include "pipeline/engine.h"

namespace velmora {

// Levels for a kernel whose larger side is n: floor(ln(5 / n) / ln(1 / sqrt 2)) + 1,
// at least 1.
int SharpLevelCount(int n);

// (1/sqrt 2)^level.
double SharpLevelScale(int level);

// A kernel side at a level: ceil(side x scale), made odd, at least 3 and at
// most side.
int SharpKernelSide(int side, int level);

// Only the estimation, on a grey picture (rows x cols, values in [0, 1],
// read only): kernel (kernelRows x kernelCols, caller-owned) receives the
// estimate, non-negative, summing to 1 and centred. Progress runs from 0 to
// 50. Returns false, with kernel holding the last estimate reached (or
// zeros), when the picture is too small for the kernel or no usable kernel
// came out (a flat picture).
bool EstimateSharpKernel(const float* grey, int rows, int cols, float* kernel, int kernelRows,
                         int kernelCols, const SharpEstimatorParams& params,
                         ProgressCell* progress);

// The whole blind job with the sharp estimator: the arguments and results of
// EstimateKernel without tscale. The estimation runs on the CPU; useCpu
// picks the processor of the deconvolution.
int EstimateKernelSharp(const float* source, float* outputImage, int rows, int cols, int channels,
                        float* outputKernel, int kernelHeight, int kernelWidth, float gamma,
                        float smoothness, int deringFactor, int reduceNoise, bool useCpu,
                        ProgressCell* progress, const SharpEstimatorParams& params = {});

}  // namespace velmora
