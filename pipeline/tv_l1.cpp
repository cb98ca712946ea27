#include <algorithm>
#include <cmath>
#include <new>

#include "pipeline/tv_common.h"
#include "pipeline/tv_deconv.h"

namespace velmora {

namespace {

constexpr float kInitialDataThreshold = 1.0f;
constexpr float kDataThresholdDivisor = 3.0f;
constexpr float kDataThresholdFloor = 0.01f;

// z = B + s(r) max(|r| - v, 0) with r = w - B.
void CorrectData(const float* blurred, const float* convolved, float v, float* z, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const float r = convolved[i] - blurred[i];
    const float sign = r < 0.0f ? -1.0f : 1.0f;
    z[i] = blurred[i] + sign * std::max(std::fabs(r) - v, 0.0f);
  }
}

// Nomin1 = conj(K) Z on the half j <= W / 2 that the passes read.
void CorrectedNumerator(const fftwf_complex* k, const fftwf_complex* zHalf, fftwf_complex* nomin,
                        int H, int W) {
  const int half = HalfCols(W);
  for (int i = 0; i < H; ++i)
    for (int j = 0; j < half; ++j) {
      const size_t f = GridSize(i, W) + j;
      const fftwf_complex& z = zHalf[GridSize(i, half) + j];
      const float kr = k[f][0], ki = k[f][1];
      nomin[f][0] = kr * z[0] + ki * z[1];
      nomin[f][1] = kr * z[1] - ki * z[0];
    }
}

}  // namespace

void PrepareTVL1Spectra(const float* kernel, int H, int W, int kernelRows, int kernelCols,
                        fftwf_complex* K, fftwf_complex* Denom1, fftwf_complex* Denom2) {
  const size_t n = GridSize(H, W);
  KernelToSpectrum(kernel, K, H, W, kernelRows, kernelCols);
  for (size_t i = 0; i < n; ++i) {
    Denom1[i][0] = K[i][0] * K[i][0] + K[i][1] * K[i][1];
    Denom1[i][1] = 0.0f;
  }
  DifferenceEnergySpectrum(Denom2, H, W);
}

bool FastDeconvTVL1(const float* blurred, float* result, const float* kernel, int H, int W,
                    int kernelRows, int kernelCols, float lambda) {
  const size_t n = GridSize(H, W);
  std::copy_n(blurred, n, result);
  if (!KernelSidesOdd(kernelRows, kernelCols)) return false;
  // lambda 0 (or a weight too large for any pass) never changes I.
  if (!ContinuationGoesOn(1.0f / lambda, lambda)) return true;
  try {
    ComplexArray k(n), denom1(n), denom2(n), zHalf(GridSize(H, HalfCols(W))), nomin(n);
    PrepareTVL1Spectra(kernel, H, W, kernelRows, kernelCols, k.get(), denom1.get(), denom2.get());
    FloatArray convolved(n), z(n);
    TVWorkspace work(H, W);
    for (float v = kInitialDataThreshold; kDataThresholdFloor < v; v = v / kDataThresholdDivisor) {
      ConvolveReplicate(result, convolved.get(), W, H, kernel, kernelCols, kernelRows);
      CorrectData(blurred, convolved.get(), v, z.get(), n);
      RealFft2d(z.get(), zHalf.get(), H, W);
      CorrectedNumerator(k.get(), zHalf.get(), nomin.get(), H, W);
      for (float t = 1.0f / lambda; ContinuationGoesOn(t, lambda); t = t / 2.0f) {
        const float threshold = lambda * t;
        const float beta = v / t;
        HalfQuadraticPass(result, threshold, beta, nomin.get(), denom1.get(), denom2.get(), work);
      }
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

namespace {

// The multiply-adds of one output row, the hot loop of the solver. Built for
// wider vector units too where the processor has them; the order of the sums
// is the same in every build, so are the results.
__attribute__((target_clones("avx2", "default")))
void ConvolveRow(const float* padded, int paddedWidth, int H, int i, int hr, const float* kernel,
                 int kernelRows, int kernelCols, float* out, int W) {
  std::fill(out, out + W, 0.0f);
  for (int l = 0; l < kernelRows; ++l) {
    const int r = std::clamp(i - hr + l, 0, H - 1);
    const float* src = padded + GridSize(r, paddedWidth);
    const float* krow = kernel + GridSize(kernelRows - 1 - l, kernelCols);
    for (int m = 0; m < kernelCols; ++m) {
      const float kv = krow[kernelCols - 1 - m];
      const float* s = src + m;
      for (int j = 0; j < W; ++j) out[j] += kv * s[j];
    }
  }
}

}  // namespace

void ConvolveReplicate(const float* source, float* destination, int W, int H,
                       const float* kernel, int kernelCols, int kernelRows) {
  const int hr = (kernelRows - 1) / 2;
  const int hc = (kernelCols - 1) / 2;
  // Each source row is widened once by its replicated border samples, so the
  // inner loop runs over contiguous memory without clamping.
  const int paddedWidth = W + kernelCols - 1;
  FloatArray padded(GridSize(H, paddedWidth));
  for (int i = 0; i < H; ++i) {
    const float* row = source + GridSize(i, W);
    float* out = padded.get() + GridSize(i, paddedWidth);
    for (int j = 0; j < paddedWidth; ++j) out[j] = row[std::clamp(j - hc, 0, W - 1)];
  }
  FloatArray acc(GridSize(H, W));
  for (int i = 0; i < H; ++i)
    ConvolveRow(padded.get(), paddedWidth, H, i, hr, kernel, kernelRows, kernelCols,
                acc.get() + GridSize(i, W), W);
  std::copy_n(acc.get(), GridSize(H, W), destination);
}

}  // namespace velmora
