#include <algorithm>
#include <new>

#include "pipeline/tv_deconv.h"

namespace velmora {

namespace {

// The raised data moves little from one pass to the next: raising it every
// other pass keeps the lamps' light at half the transforms.
constexpr int kClippedUpdateEvery = 2;

}  // namespace

void SolveTVL2(const float* blurred, float* result, const KernelSpectra& spectra,
               TVWorkspace& work, float lambda) {
  std::copy_n(blurred, GridSize(spectra.H, spectra.W), result);
  for (float t = 1.0f / lambda; ContinuationGoesOn(t, lambda); t = t / 2.0f) {
    const float beta = 1.0f / t;
    const float threshold = lambda * t;
    HalfQuadraticPass(result, threshold, beta, spectra, work);
  }
}

void SolveTVL2(const float* blurred, float* result, const KernelSpectra& spectra,
               TVWorkspace& work, float lambda, ClippedData& clipped) {
  std::copy_n(blurred, GridSize(spectra.H, spectra.W), result);
  DataNumerator(blurred, spectra, work);
  int pass = 0;
  for (float t = 1.0f / lambda; ContinuationGoesOn(t, lambda); t = t / 2.0f, ++pass) {
    const bool raise = pass % kClippedUpdateEvery == 0;
    HalfQuadraticPass(result, lambda * t, 1.0f / t, spectra, work, raise ? clipped.solution() : nullptr);
    if (raise) clipped.Update(spectra, work);
  }
}

bool FastDeconvTVL2(const float* blurred, float* result, const float* kernel, int H, int W,
                    int kernelRows, int kernelCols, float lambda) {
  std::copy_n(blurred, GridSize(H, W), result);
  if (!KernelSidesOdd(kernelRows, kernelCols)) return false;
  if (!ContinuationGoesOn(1.0f / lambda, lambda)) return true;  // lambda 0: nothing to do
  try {
    const KernelSpectra spectra(kernel, H, W, kernelRows, kernelCols);
    TVWorkspace work(H, W);
    DataNumerator(blurred, spectra, work);
    SolveTVL2(blurred, result, spectra, work, lambda);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace velmora
