// The sharp estimator on a whole picture as the engine hands it over: the
// grey working picture, the parameters fitted to its noise, the clipped
// highlights taken as asked; and the estimator's memory peak.
#include <algorithm>
#include <cmath>

#include "estimation/masked_kernel_solve.h"
#include "estimation/noise_level.h"
#include "estimation/sharp_estimator.h"
#include "estimation/working_image.h"
#include "pipeline/highlights.h"
#include "pipeline/job_context.h"
#include "pipeline/plan_cache.h"
#include "pipeline/spectral.h"

namespace velmora {

SharpEstimatorParams FitToNoise(const SharpEstimatorParams& params, double sigma) {
  if (!(params.noiseReference > 0.0f)) return params;
  SharpEstimatorParams fitted = params;
  // The kernel step's data term carries the noise's energy: its weight
  // follows the noise. The prior's start follows it too: a noisy picture
  // needs a higher threshold before its edges are real. Noisier pictures
  // than the reference keep its weights: they were tuned there.
  double ratio =
      std::min(1.0, std::max(sigma, static_cast<double>(params.noiseFloor)) / params.noiseReference);
  fitted.kernelWeight = static_cast<float>(params.kernelWeight * std::pow(ratio, params.noisePower));
  if (params.lambdaFollowsNoise)
    fitted.lambdaStart = static_cast<float>(
        std::clamp(params.lambdaStart * ratio, static_cast<double>(params.lambdaLeast),
                   static_cast<double>(params.lambdaStart)));
  return fitted;
}

namespace {

// Runs work on the level pictures of source's grey working picture, with
// the parameters fitted to its noise and the transforms planned the same
// way on every run; returns what work returns.
template <typename Work>
auto OnLevelPictures(const float* source, int rows, int cols, int channels, float gamma,
                     const SharpEstimatorParams& params, Work work) {
  FloatArray grey(GridSize(rows, cols));
  GreyWorkingImage(source, rows, cols, channels, gamma, grey.get());
  Checkpoint();
  const SharpEstimatorParams adapted =
      FitToNoise(params, params.noiseReference > 0.0f ? EstimateNoiseSigma(grey.get(), rows, cols) : 0.0);
  const FixedTransformPlans samePlansEveryRun;
  return work(LevelPictures(grey.get(), rows, cols, source, channels, adapted), adapted);
}

}  // namespace

bool EstimateSharpKernelOfPicture(const float* source, int rows, int cols, int channels,
                                  float* kernel, int kernelRows, int kernelCols, float gamma,
                                  ProgressCell* progress, const SharpEstimatorParams& params,
                                  KernelSize* found, Highlights highlights) {
  EngineLog("start kernel estimation...\n");
  const EstimationPicture estimated(source, rows, cols, channels, highlights);
  // The size search reads the picture as stored: in linear light the dark
  // picture and the bright lamps mislead its coarse levels and its
  // narrowing. The estimation at the size it finds then runs in linear
  // light.
  KernelSize* search = found;
  if (found && estimated.linear()) {
    OnLevelPictures(source, rows, cols, channels, gamma, params,
                    [&](const LevelPictures& pictures, const SharpEstimatorParams& adapted) {
                      return EstimateSharpKernel(pictures, kernel, kernelRows, kernelCols, adapted,
                                                 nullptr, found);
                    });
    if (found->rows > 0) {
      kernelRows = found->rows;
      kernelCols = found->cols;
      search = nullptr;
    }
  }
  const bool success = OnLevelPictures(
      estimated.planes(), rows, cols, channels, estimated.Gamma(gamma), params,
      [&](const LevelPictures& pictures, const SharpEstimatorParams& adapted) {
        return EstimateSharpKernel(pictures, kernel, kernelRows, kernelCols, adapted, progress,
                                   search);
      });
  if (found && found->rows > 0) EngineLogFormat("blur size found: %d x %d\n", found->rows, found->cols);
  return success;
}


KernelSize FindBlurSize(const float* source, int rows, int cols, int channels, float gamma,
                        int boundRows, int boundCols, const SharpEstimatorParams& params,
                        double finestScale) {
  const KernelSize found = OnLevelPictures(
      source, rows, cols, channels, gamma, params,
      [&](const LevelPictures& pictures, const SharpEstimatorParams& adapted) {
        return FindSharpBlurSize(pictures, boundRows, boundCols, adapted, finestScale);
      });
  EngineLogFormat("blur size found: %d x %d\n", found.rows, found.cols);
  return found;
}

double SharpEstimationPeakFloats(int rows, int cols, int kernelRows, int kernelCols) {
  const double n = static_cast<double>(rows) * cols;
  const double window =
      std::min(n, SharpLevelPixels(SharpEstimatorParams(), 1.0, std::max(kernelRows, kernelCols)));
  const double taps = static_cast<double>(kernelRows) * kernelCols;
  const double margins = (std::sqrt(window) + kernelRows + 2.0) * (std::sqrt(window) + kernelCols + 2.0);
  const double choosing = 2.25 * n;
  const double estimating = n + 2.0 * window + 8.0 * margins + 10.0 * margins +
                            (taps <= kDenseGramLimit ? taps * taps : 6.0 * margins);
  return std::max(choosing, estimating);
}

}  // namespace velmora
