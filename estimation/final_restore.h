// The last step of a blind job, shared by the kernel estimators: the colour
// picture deconvolved with the estimated kernel.
#pragma once

#include "pipeline/engine.h"

namespace velmora {

// Writes progress 50, restores source (rows x cols x channels) into
// outputImage with kernel (kernelRows x kernelCols), or copies it when the
// kernel is practically an impulse, then writes progress 99. Returns 1, or
// kEngineInvalidArgument when a side is even (the output is left untouched),
// or what the deconvolution reports.
int RestoreWithKernel(const float* source, float* outputImage, int rows, int cols, int channels,
                      const float* kernel, int kernelRows, int kernelCols, float smoothness,
                      int deringFactor, int reduceNoise, bool useCpu, ProgressCell* progress,
                      Highlights highlights = Highlights::kKeep);

}  // namespace velmora
