#include "engine/blind.h"

#include <algorithm>

#include "estimation/estimators.h"
#include "pipeline/numerics.h"

namespace velmora {

namespace {

// What every blind job does once its estimator has returned.
int Finish(const BlindJob& job, bool estimated, int kernelRows, int kernelCols) {
  int result = 0;
  if (estimated) result = RestoreWithKernel(job, job.kernel, kernelRows, kernelCols);
  WriteProgress(job.progress, 99.9f);
  if (!estimated) EngineLog("Kernel Estimation Fails!\n");
  return result;
}

}  // namespace

bool BlindJobValid(const BlindJob& job, bool oddSides) {
  const bool odd = !oddSides || (job.kernelHeight % 2 == 1 && job.kernelWidth % 2 == 1);
  return job.source && job.output && job.kernel && job.kernelHeight >= 3 && job.kernelWidth >= 3 &&
         odd &&
         EngineSizesValid(job.rows, job.cols, job.channels, job.kernelHeight, job.kernelWidth) &&
         SamplesFinite(job.source, GridSize(job.rows, job.cols) * job.channels);
}

int RestoreWithKernel(const BlindJob& job, const float* kernel, int kernelRows, int kernelCols) {
  WriteProgress(job.progress, 50.0f);
  const size_t n = GridSize(job.rows, job.cols) * job.channels;
  int result = 1;
  auto deconvolve = [&](float* output) {
    return DeconvolveImage(job.source, output, kernel, job.rows, job.cols, job.channels, kernelRows,
                           kernelCols, job.smoothness, job.deringFactor, job.reduceNoise,
                           job.useCpu, job.progress, job.highlights);
  };
  if (IsImpulseLike(kernel, kernelRows, kernelCols)) {
    std::copy_n(job.source, n, job.output);
  } else if (kernelRows % 2 == 0 || kernelCols % 2 == 0) {
    // The solvers refuse even sides (and say so): run them on scratch so
    // that the caller's output stays untouched, and report the refusal.
    FloatArray scratch(n);
    const int refused = deconvolve(scratch.get());
    result = refused != 0 ? refused : kEngineInvalidArgument;
  } else {
    const int solved = deconvolve(job.output);
    if (solved != 0) result = solved;
  }
  WriteProgress(job.progress, 99.0f);
  return result;
}

int ClassicBlindJob(const BlindJob& job) {
  const bool estimated = EstimateClassicKernel(
      job.source, job.rows, job.cols, job.channels, job.kernel, job.kernelHeight, job.kernelWidth,
      job.gamma, job.tscale, job.useCpu, job.progress, job.highlights);
  return Finish(job, estimated, job.kernelHeight, job.kernelWidth);
}

int SharpBlindJob(const BlindJob& job, const SharpEstimatorParams& params, KernelSize* found) {
  const bool estimated = EstimateSharpKernelOfPicture(
      job.source, job.rows, job.cols, job.channels, job.kernel, job.kernelHeight, job.kernelWidth,
      job.gamma, job.progress, params, found, job.highlights);
  const bool sized = found && found->rows > 0;
  return Finish(job, estimated, sized ? found->rows : job.kernelHeight,
                sized ? found->cols : job.kernelWidth);
}

int ClassicBlindJobFindingSize(const BlindJob& job, const SharpEstimatorParams& params,
                               KernelSize* found) {
  *found = {};
  KernelSize size;
  {
    // The search plans within an allowance of its own, as a job of its
    // own would: the estimation after it starts with the whole one.
    const PlanningAllowance allowance(JobPlanningAllowance(job.rows, job.cols));
    const EstimationPicture estimated(job.source, job.rows, job.cols, job.channels, job.highlights);
    size = FindBlurSize(estimated.planes(), job.rows, job.cols, job.channels,
                        estimated.Gamma(job.gamma), job.kernelHeight, job.kernelWidth, params,
                        params.classicSizeSearchScale);
  }
  if (size.rows == 0) return 0;
  BlindJob sized = job;
  sized.kernelHeight = size.rows;
  sized.kernelWidth = size.cols;
  const int result = ClassicBlindJob(sized);
  if (result == 1 || result == 0) *found = size;
  return result;
}

int EstimateKernel(const float* source, float* outputImage, int rows, int cols, int channels,
                   float* outputKernel, int kernelHeight, int kernelWidth, float gamma,
                   float tscale, float smoothness, int deringFactor, int reduceNoise, bool useCpu,
                   ProgressCell* progress, Highlights highlights) {
  return ClassicBlindJob({source, outputImage, rows, cols, channels, outputKernel, kernelHeight,
                          kernelWidth, gamma, tscale, smoothness, deringFactor, reduceNoise,
                          useCpu, progress, highlights});
}

}  // namespace velmora
