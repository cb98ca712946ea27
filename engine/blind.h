// The blind job, composed once for every estimator: the estimator's kernel,
// then the picture restored with it, progress to 99.9 and the failure line.
// The estimators (estimation/) only estimate.
#pragma once

#include "estimation/estimators.h"
#include "pipeline/numerics.h"
#include "velmora/vocabulary.h"

namespace velmora {

// One blind job's buffers and settings, in the entries' terms. source and
// output: rows x cols x channels planar, caller-owned; kernel: a
// caller-owned buffer of kernelHeight x kernelWidth floats (the bound of a
// size search), which receives the estimate row-major from its start.
struct BlindJob {
  const float* source = nullptr;
  float* output = nullptr;
  int rows = 0, cols = 0, channels = 0;
  float* kernel = nullptr;
  int kernelHeight = 0, kernelWidth = 0;
  float gamma = 1.0f, tscale = 1.0f, smoothness = 0.04f;
  int deringFactor = 0, reduceNoise = 0;
  bool useCpu = true;
  ProgressCell* progress = nullptr;
  Highlights highlights = Highlights::kKeep;
};

// The checks of the blind entries: buffers given, kernel sides at least 3
// (below that the pyramids have no levels) and odd where the estimator
// needs a centre tap, sizes the engine takes, finite samples.
bool BlindJobValid(const BlindJob& job, bool oddSides);

// The three blind jobs. Each returns 1 on success; 0 when the estimation
// failed (the output untouched, the kernel holding the last estimate);
// kEngineInvalidArgument when the restore refused the kernel (an even
// side); or what the restore reports. Failures inside throw (bad_alloc,
// cv::Exception, GpuFault, JobCancelled): the engine's guard turns them
// into results. With found given, the size is searched within the job's
// kernel size and found receives it (0 x 0 when none).
int ClassicBlindJob(const BlindJob& job);
int SharpBlindJob(const BlindJob& job, const SharpEstimatorParams& params, KernelSize* found);
// The classic estimator at the size the sharp one's coarse levels find
// (down to params.classicSizeSearchScale).
int ClassicBlindJobFindingSize(const BlindJob& job, const SharpEstimatorParams& params,
                               KernelSize* found);

// The restore at the end of a blind job: writes progress 50, restores
// source into output with kernel (kernelRows x kernelCols), or copies it
// when the kernel is practically an impulse, then writes progress 99.
// Returns 1, kEngineInvalidArgument when a side is even (the output is left
// untouched), or what the deconvolution reports.
int RestoreWithKernel(const BlindJob& job, const float* kernel, int kernelRows, int kernelCols);

// The classic job with the arguments in the order the engine has always
// taken them (DeblurImage's, with deringFactor = 10 x reduceRinging).
int EstimateKernel(const float* source, float* outputImage, int rows, int cols, int channels,
                   float* outputKernel, int kernelHeight, int kernelWidth, float gamma,
                   float tscale, float smoothness, int deringFactor, int reduceNoise, bool useCpu,
                   ProgressCell* progress, Highlights highlights = Highlights::kKeep);

}  // namespace velmora
