#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "pipeline/parallel_for.h"
#include "pipeline/tv_deconv.h"

namespace velmora {

namespace {

constexpr float kInitialDataThreshold = 1.0f;
constexpr float kDataThresholdDivisor = 3.0f;
constexpr float kDataThresholdFloor = 0.01f;

// z = B + s(r) max(|r| - v, 0) with r = w - B, written over convolved.
void CorrectData(const float* blurred, float* convolved, float v, size_t n) {
  VELMORA_PARALLEL_FOR(n)
  for (size_t i = 0; i < n; ++i) {
    const float r = convolved[i] - blurred[i];
    const float excess = std::fabs(r) - v;
    convolved[i] = blurred[i] + std::copysign(excess > 0.0f ? excess : 0.0f, r);
  }
}

}  // namespace

int SmoothLength(int n) {
  for (int m = std::max(n, 1);; ++m) {
    int r = m;
    for (int p : {2, 3, 5, 7})
      while (r % p == 0) r /= p;
    if (r == 1) return m;
  }
}

ReplicateConvolution::ReplicateConvolution(const float* kernel, int H, int W, int kernelRows,
                                           int kernelCols)
    : H_(H), W_(W), rowRadius_((kernelRows - 1) / 2), colRadius_((kernelCols - 1) / 2),
      gridRows_(SmoothLength(H + kernelRows - 1)), gridCols_(SmoothLength(W + kernelCols - 1)),
      transfer_(GridSize(gridRows_, HalfCols(gridCols_))), spectrum_(GridSize(gridRows_, HalfCols(gridCols_))),
      grid_(GridSize(gridRows_, gridCols_)) {
  KernelToHalfSpectrum(kernel, transfer_.get(), gridRows_, gridCols_, kernelRows, kernelCols);
  // Cells outside the replicated frame are never read back: zero them once.
  grid_.zero();
}

void ReplicateConvolution::Apply(const float* source, float* destination) {
  const int rr = rowRadius_, cr = colRadius_, W = W_;
  float* grid = grid_.get();
  // The source framed by its replicated border samples, from (0, 0).
  VELMORA_PARALLEL_FOR(GridSize(H_, W_))
  for (int p = 0; p < H_ + 2 * rr; ++p) {
    const float* row = source + GridSize(std::clamp(p - rr, 0, H_ - 1), W);
    float* out = grid + GridSize(p, gridCols_);
    for (int q = 0; q < cr; ++q) out[q] = row[0];
    std::copy_n(row, W, out + cr);
    for (int q = cr + W; q < W + 2 * cr; ++q) out[q] = row[W - 1];
  }
  RealFft2d(grid, spectrum_.get(), gridRows_, gridCols_);
  const size_t half = GridSize(gridRows_, HalfCols(gridCols_));
  fftwf_complex* s = spectrum_.get();
  const fftwf_complex* k = transfer_.get();
  VELMORA_PARALLEL_FOR(half)
  for (size_t i = 0; i < half; ++i) {
    const float sr = s[i][0], si = s[i][1];
    s[i][0] = sr * k[i][0] - si * k[i][1];
    s[i][1] = sr * k[i][1] + si * k[i][0];
  }
  InverseRealFft2d(s, grid, gridRows_, gridCols_);
  // The circular result at (i + rr, j + cr) is the convolution at (i, j);
  // the frame's cells outside the image are refilled at the next call.
  const float count = static_cast<float>(GridSize(gridRows_, gridCols_));
  VELMORA_PARALLEL_FOR(GridSize(H_, W_))
  for (int i = 0; i < H_; ++i) {
    const float* in = grid + GridSize(i + rr, gridCols_) + cr;
    float* out = destination + GridSize(i, W);
    for (int j = 0; j < W; ++j) out[j] = in[j] / count;
  }
  // The inverse overwrote the zero margin beyond the frame.
  VELMORA_PARALLEL_FOR(GridSize(gridRows_, gridCols_))
  for (int p = 0; p < gridRows_; ++p) {
    float* row = grid + GridSize(p, gridCols_);
    const int from = p < H_ + 2 * rr ? W + 2 * cr : 0;
    std::fill(row + from, row + gridCols_, 0.0f);
  }
}

void ConvolveReplicate(const float* source, float* destination, int W, int H,
                       const float* kernel, int kernelCols, int kernelRows) {
  ReplicateConvolution(kernel, H, W, kernelRows, kernelCols).Apply(source, destination);
}

void SolveTVL1(const float* blurred, float* result, const KernelSpectra& spectra,
               TVWorkspace& work, ReplicateConvolution& convolution, float lambda,
               const std::vector<size_t>* clipped) {
  const size_t n = GridSize(spectra.H, spectra.W);
  std::copy_n(blurred, n, result);
  // The divergence array is free between passes: it holds the corrected data.
  float* z = work.div.get();
  std::vector<float> raised(clipped ? clipped->size() : 0);
  for (float v = kInitialDataThreshold; kDataThresholdFloor < v; v = v / kDataThresholdDivisor) {
    convolution.Apply(result, z);
    for (size_t c = 0; c < raised.size(); ++c) raised[c] = z[(*clipped)[c]];
    CorrectData(blurred, z, v, n);
    // Light the sensor could not record is no outlier.
    for (size_t c = 0; c < raised.size(); ++c) {
      const size_t at = (*clipped)[c];
      if (raised[c] > blurred[at]) z[at] = raised[c];
    }
    DataNumerator(z, spectra, work);
    for (float t = 1.0f / lambda; ContinuationGoesOn(t, lambda); t = t / 2.0f) {
      const float threshold = lambda * t;
      const float beta = v / t;
      HalfQuadraticPass(result, threshold, beta, spectra, work);
    }
  }
}

bool FastDeconvTVL1(const float* blurred, float* result, const float* kernel, int H, int W,
                    int kernelRows, int kernelCols, float lambda) {
  std::copy_n(blurred, GridSize(H, W), result);
  if (!KernelSidesOdd(kernelRows, kernelCols)) return false;
  // lambda 0 (or a weight too large for any pass) never changes I.
  if (!ContinuationGoesOn(1.0f / lambda, lambda)) return true;
  try {
    const KernelSpectra spectra(kernel, H, W, kernelRows, kernelCols);
    TVWorkspace work(H, W);
    ReplicateConvolution convolution(kernel, H, W, kernelRows, kernelCols);
    SolveTVL1(blurred, result, spectra, work, convolution, lambda);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace velmora
