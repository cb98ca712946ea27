#include "pipeline/difference_spectra.h"
#include "pipeline/parallel_for.h"
#include "pipeline/tv_common.h"
#include "pipeline/job_context.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace velmora {

namespace {

// The larger of x and 0 (0 for NaN, as fmax gives), as a plain select that
// vectorises where a call to fmaxf would not.
inline float PositivePart(float x) { return x > 0.0f ? x : 0.0f; }

// sign(g) max(|g| - threshold, 0), without a branch.
inline float SoftThreshold(float g, float threshold) {
  return std::copysign(PositivePart(std::fabs(g) - threshold), g);
}

// Divergence of the thresholded circular forward differences of row i:
// (wx(j - 1) - wx(j)) + (wy(i - 1, j) - wy(i, j)). Each difference is
// formed where it is needed, so no gradient plane is stored.
VELMORA_WIDE_VECTORS
void DivergenceRow(const float* above, const float* row, const float* below, float* d, int W,
                   float t) {
  auto wx = [&](int j) { return SoftThreshold(row[j + 1] - row[j], t); };
  d[0] = (SoftThreshold(row[0] - row[W - 1], t) - (W > 1 ? wx(0) : SoftThreshold(0.0f, t))) +
         (SoftThreshold(row[0] - above[0], t) - SoftThreshold(below[0] - row[0], t));
  for (int j = 1; j + 1 < W; ++j)
    d[j] = (SoftThreshold(row[j] - row[j - 1], t) - SoftThreshold(row[j + 1] - row[j], t)) +
           (SoftThreshold(row[j] - above[j], t) - SoftThreshold(below[j] - row[j], t));
  if (W > 1) {
    const int j = W - 1;
    d[j] = (SoftThreshold(row[j] - row[j - 1], t) - SoftThreshold(row[0] - row[j], t)) +
           (SoftThreshold(row[j] - above[j], t) - SoftThreshold(below[j] - row[j], t));
  }
}

// FI = (beta FD + nomin) / ((denom1 + beta denom2) N) over n frequencies.
VELMORA_WIDE_VECTORS
void SolveFrequencies(fftwf_complex* fd, const fftwf_complex* nomin, const float* d1, const float* d2,
                      float beta, float count, size_t n) {
  for (size_t k = 0; k < n; ++k) {
    const float den = (d1[k] + beta * d2[k]) * count;
    fd[k][0] = (beta * fd[k][0] + nomin[k][0]) / den;
    fd[k][1] = (beta * fd[k][1] + nomin[k][1]) / den;
  }
}

}  // namespace

KernelSpectra::KernelSpectra(const float* kernel, int H_, int W_, int kernelRows, int kernelCols)
    : H(H_), W(W_), K(GridSize(H_, HalfCols(W_))), denom1(GridSize(H_, HalfCols(W_))),
      denom2(GridSize(H_, HalfCols(W_))) {
  KernelToHalfSpectrum(kernel, K.get(), H, W, kernelRows, kernelCols);
  const DifferenceEnergies energies(H, W);
  const int half = HalfCols(W);
  VELMORA_PARALLEL_FOR(GridSize(H, half))
  for (int i = 0; i < H; ++i)
    for (int j = 0; j < half; ++j) {
      const size_t k = GridSize(i, half) + j;
      denom1[k] = K[k][0] * K[k][0] + K[k][1] * K[k][1];
      denom2[k] = energies.First(i, j);
    }
}

TVWorkspace::TVWorkspace(int H_, int W_)
    : H(H_), W(W_), div(GridSize(H_, W_)), spectrum(GridSize(H_, HalfCols(W_))),
      nomin(GridSize(H_, HalfCols(W_))) {}

void DataNumerator(const float* data, const KernelSpectra& s, TVWorkspace& work) {
  RealFft2d(data, work.spectrum.get(), s.H, s.W);
  const size_t n = GridSize(s.H, HalfCols(s.W));
  const fftwf_complex* K = s.K.get();
  const fftwf_complex* f = work.spectrum.get();
  fftwf_complex* nomin = work.nomin.get();
  VELMORA_PARALLEL_FOR(n)
  for (size_t i = 0; i < n; ++i) {
    const float kr = K[i][0], ki = K[i][1], br = f[i][0], bi = f[i][1];
    nomin[i][0] = kr * br + ki * bi;
    nomin[i][1] = kr * bi - ki * br;
  }
}

void HalfQuadraticPass(float* I, float threshold, float beta, const KernelSpectra& s,
                       TVWorkspace& work, fftwf_complex* solution) {
  Checkpoint();
  const int H = work.H, W = work.W;
  float* div = work.div.get();
  VELMORA_PARALLEL_FOR(GridSize(H, W))
  for (int i = 0; i < H; ++i)
    DivergenceRow(I + GridSize((i + H - 1) % H, W), I + GridSize(i, W), I + GridSize((i + 1) % H, W),
                  div + GridSize(i, W), W, threshold);
  fftwf_complex* fd = work.spectrum.get();
  RealFft2d(div, fd, H, W);
  [[maybe_unused]] const size_t half = GridSize(H, HalfCols(W));
  const fftwf_complex* nomin = work.nomin.get();
  const float* d1 = s.denom1.get();
  const float* d2 = s.denom2.get();
  // The inverse transform's 1 / N is taken into the denominator.
  const float count = static_cast<float>(GridSize(H, W));
  const int halfCols = HalfCols(W);
  VELMORA_PARALLEL_FOR(half)
  for (int i = 0; i < H; ++i) {
    const size_t at = GridSize(i, halfCols);
    SolveFrequencies(fd + at, nomin + at, d1 + at, d2 + at, beta, count, halfCols);
  }
  // The inverse transform overwrites its input.
  if (solution) std::memcpy(solution, fd, sizeof(fftwf_complex) * half);
  InverseRealFft2d(fd, I, H, W);
}

ClippedData::ClippedData(int H, int W)
    : blurred_(nullptr), H_(H), W_(W), data_(GridSize(H, W)), solution_(GridSize(H, HalfCols(W))) {}

void ClippedData::Use(const float* blurred, std::vector<size_t> clipped) {
  blurred_ = blurred;
  clipped_ = std::move(clipped);
}

void ClippedData::Update(const KernelSpectra& s, TVWorkspace& work) {
  const size_t half = GridSize(H_, HalfCols(W_));
  fftwf_complex* f = solution_.get();
  const fftwf_complex* K = s.K.get();
  VELMORA_PARALLEL_FOR(half)
  for (size_t i = 0; i < half; ++i) {
    const float fr = f[i][0], fi = f[i][1];
    f[i][0] = fr * K[i][0] - fi * K[i][1];
    f[i][1] = fr * K[i][1] + fi * K[i][0];
  }
  float* data = data_.get();
  InverseRealFft2d(f, data, H_, W_);
  // Only the clipped samples need the blurred latent picture: read them
  // before the plane is refilled with the data.
  std::vector<float>& raised = raised_;
  raised.resize(clipped_.size());
  for (size_t n = 0; n < clipped_.size(); ++n) raised[n] = data[clipped_[n]];
  std::copy_n(blurred_, GridSize(H_, W_), data);
  for (size_t n = 0; n < clipped_.size(); ++n) data[clipped_[n]] = std::max(data[clipped_[n]], raised[n]);
  DataNumerator(data, s, work);
}

bool KernelSidesOdd(int kernelRows, int kernelCols) {
  if (kernelRows % 2 == 0 || kernelCols % 2 == 0) {
    EngineLog("Error - blur kernel k must be odd-sized.\n");
    return false;
  }
  return true;
}

}  // namespace velmora

namespace velmora {

bool ContinuationGoesOn(float t, float lambda) {
  return t >= 0.01f && (1.0 / static_cast<double>(t)) / static_cast<double>(lambda) < 1024.0;
}

int ContinuationPassCount(float lambda) {
  int passes = 0;
  for (float t = 1.0f / lambda; ContinuationGoesOn(t, lambda); t = t / 2.0f) ++passes;
  return passes;
}

}  // namespace velmora
