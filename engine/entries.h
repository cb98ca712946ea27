// The engine's planar entries beyond those in pipeline/engine.h: the sharp
// estimator's and the size search's, with the estimator's parameters
// given, and the known-kernel restore with the highlights model. Each
// checks its arguments and answers with the results of DeblurImage.
#pragma once

#include "estimation/estimators.h"
#include "pipeline/numerics.h"
#include "velmora/vocabulary.h"

namespace velmora {

// The ringing switch (0 or 1) as the solvers take it (0 or 10).
int DeringFactor(int reduceRinging);

// DeblurImageSharp with the estimator's parameters given; with found, a
// size search within kernelHeight x kernelWidth (see EstimateSharpKernel).
int DeblurSharp(const float* input, float* output, int rows, int cols, int channels, float* kernel,
                int kernelHeight, int kernelWidth, float gamma, float smoothness, int reduceRinging,
                int reduceNoise, bool useCpu, ProgressCell* progress,
                const SharpEstimatorParams& params, KernelSize* found = nullptr,
                Highlights highlights = Highlights::kKeep);

// DeblurImage (the classic estimator) at the size FindBlurSize finds within
// boundRows x boundCols, down to params.classicSizeSearchScale: kernel
// holds boundRows x boundCols floats and receives found->rows x
// found->cols of them from its start. Returns as DeblurImage; 0 (the
// estimation failed, found 0 x 0) when the search found no size.
int DeblurClassicFindingSize(const float* input, float* output, int rows, int cols, int channels,
                             float* kernel, int boundRows, int boundCols, float gamma, float tscale,
                             float smoothness, int reduceRinging, int reduceNoise, bool useCpu,
                             ProgressCell* progress, const SharpEstimatorParams& params,
                             KernelSize* found, Highlights highlights = Highlights::kKeep);

// DeblurWithKernel's work: the kernel must have positive finite mass.
// Returns 0 or an EngineResult.
int RestoreKnownKernel(const float* input, float* output, const float* kernel, int rows, int cols,
                       int channels, int kernelHeight, int kernelWidth, float smoothness,
                       int reduceRinging, int reduceNoise, bool useCpu, ProgressCell* progress,
                       Highlights highlights);

}  // namespace velmora
