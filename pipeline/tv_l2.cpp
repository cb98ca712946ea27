#include <algorithm>
#include <new>

#include "pipeline/tv_common.h"
#include "pipeline/tv_deconv.h"

namespace velmora {

void PrepareTVL2Spectra(const float* blurred, const float* kernel, int H, int W, int kernelRows,
                        int kernelCols, fftwf_complex* Nomin1, fftwf_complex* Denom1,
                        fftwf_complex* Denom2) {
  const size_t n = GridSize(H, W);
  ComplexArray k(n), fb(n);
  PrepareTVL1Spectra(kernel, H, W, kernelRows, kernelCols, k.get(), Denom1, Denom2);
  RealSpectrum(blurred, fb.get(), H, W);
  for (size_t i = 0; i < n; ++i) {
    const float kr = k[i][0], ki = k[i][1], br = fb[i][0], bi = fb[i][1];
    Nomin1[i][0] = kr * br + ki * bi;
    Nomin1[i][1] = kr * bi - ki * br;
  }
}

bool FastDeconvTVL2(const float* blurred, float* result, const float* kernel, int H, int W,
                    int kernelRows, int kernelCols, float lambda) {
  const size_t n = GridSize(H, W);
  std::copy_n(blurred, n, result);
  if (!KernelSidesOdd(kernelRows, kernelCols)) return false;
  if (!ContinuationGoesOn(1.0f / lambda, lambda)) return true;  // lambda 0: nothing to do
  try {
    ComplexArray nomin(n), denom1(n), denom2(n);
    PrepareTVL2Spectra(blurred, kernel, H, W, kernelRows, kernelCols, nomin.get(), denom1.get(),
                       denom2.get());
    TVWorkspace work(H, W);
    for (float t = 1.0f / lambda; ContinuationGoesOn(t, lambda); t = t / 2.0f) {
      const float beta = 1.0f / t;
      const float threshold = lambda * t;
      HalfQuadraticPass(result, threshold, beta, nomin.get(), denom1.get(), denom2.get(), work);
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace velmora
