#include "estimation/level_spectra.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace velmora {

namespace {

constexpr float kDx[3] = {1.0f, -1.0f, 0.0f};
constexpr float kDxx[5] = {1.0f, -2.0f, 1.0f, 0.0f, 0.0f};
constexpr float kDxy[9] = {1.0f, -1.0f, 0.0f, -1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f};

float SquaredMagnitude(const fftwf_complex& c) { return c[0] * c[0] + c[1] * c[1]; }

// Squared magnitude of a filter's transfer function on the level grid.
void FilterEnergy(const float* taps, int tapRows, int tapCols, int rows, int cols,
                  fftwf_complex* scratch, float* energy) {
  KernelToSpectrum(taps, scratch, rows, cols, tapRows, tapCols);
  const size_t n = GridSize(rows, cols);
  for (size_t i = 0; i < n; ++i) energy[i] = SquaredMagnitude(scratch[i]);
}

void DerivativeSpectra(int rows, int cols, LevelSpectra* s) {
  const size_t n = GridSize(rows, cols);
  ComplexArray scratch(n);
  FloatArray first(n), second(n), third(n);
  FilterEnergy(kDx, 1, 3, rows, cols, scratch.get(), first.get());
  FilterEnergy(kDx, 3, 1, rows, cols, scratch.get(), second.get());
  s->FreqDerrs = ComplexArray(n);
  for (size_t i = 0; i < n; ++i) {
    s->FreqDerrs[i][0] = first[i] + second[i];
    s->FreqDerrs[i][1] = 0.0f;
  }
  FilterEnergy(kDxx, 1, 5, rows, cols, scratch.get(), first.get());
  FilterEnergy(kDxx, 5, 1, rows, cols, scratch.get(), second.get());
  FilterEnergy(kDxy, 3, 3, rows, cols, scratch.get(), third.get());
  s->FreqWt = ComplexArray(n);
  for (size_t i = 0; i < n; ++i) {
    const float u = first[i] + second[i] + third[i];
    s->FreqWt[i][0] = s->FreqDerrs[i][0] * 0.5f + 1.0f + u * 0.25f;
    s->FreqWt[i][1] = 0.0f;
  }
}

void ForwardDifferences(const float* image, int rows, int cols, float* bx, float* by) {
  for (int y = 0; y < rows; ++y) {
    const float* row = image + GridSize(y, cols);
    float* gx = bx + GridSize(y, cols);
    float* gy = by + GridSize(y, cols);
    for (int x = 0; x < cols; ++x) {
      gx[x] = x + 1 < cols ? row[x + 1] - row[x] : 0.0f;
      gy[x] = y + 1 < rows ? row[x + cols] - row[x] : 0.0f;
    }
  }
}

// A plane placed into the zero-padded grid, then forward-transformed.
ComplexArray PaddedSpectrum(const float* plane, int rows, int cols, const LevelSpectra& s,
                            float* grid) {
  PlaceInPaddedGrid(plane, rows, cols, s, grid);
  ComplexArray spectrum(GridSize(s.padRows, s.padCols));
  RealSpectrum(grid, spectrum.get(), s.padRows, s.padCols);
  return spectrum;
}

// Taper weights along one direction of length n: the kernel profile's
// autocorrelation (circular, over n - 1 points), scaled to 1 at zero lag
// and repeated at the far end. An all-zero profile gives all-zero weights,
// that is no tapering, instead of dividing by zero.
void TaperWeights(const float* profile, int profileLength, int n, float* weights) {
  std::fill_n(weights, n, 0.0f);
  const int length = n - 1;
  if (length < 1) return;
  ComplexArray v(static_cast<size_t>(length)), f(static_cast<size_t>(length));
  v.zero();
  for (int i = 0; i < std::min(profileLength, length); ++i) v[i][0] = profile[i];
  FftPlan(length, v.get(), f.get(), FFTW_FORWARD).Execute();
  for (int i = 0; i < length; ++i) {
    f[i][0] = SquaredMagnitude(f[i]);
    f[i][1] = 0.0f;
  }
  FftPlan(length, f.get(), v.get(), FFTW_BACKWARD).Execute();
  float m = 0.0f;
  for (int i = 0; i < length; ++i) m = std::max(m, v[i][0]);
  if (!(m > 0.0f) || !std::isfinite(m)) return;
  for (int i = 0; i < length; ++i) weights[i] = v[i][0] < 1e-10 ? 0.0f : v[i][0];
  weights[length] = v[0][0];
  for (int i = 0; i < n; ++i) weights[i] = weights[i] / m;
}

// The image circularly convolved with the kernel.
void BlurredCopy(const float* image, float* blurred, int rows, int cols, const float* kernel,
                 int kernelRows, int kernelCols) {
  const size_t n = GridSize(rows, cols);
  const int half = HalfCols(cols);
  ComplexArray spectrum(GridSize(rows, half)), transfer(n);
  RealFft2d(image, spectrum.get(), rows, cols);
  KernelToSpectrum(kernel, transfer.get(), rows, cols, kernelRows, kernelCols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < half; ++j) {
      fftwf_complex& a = spectrum[GridSize(i, half) + j];
      const fftwf_complex& b = transfer[GridSize(i, cols) + j];
      const float ar = a[0], ai = a[1];
      a[0] = ar * b[0] - ai * b[1];
      a[1] = ar * b[1] + ai * b[0];
    }
  InverseRealFft2d(spectrum.get(), blurred, rows, cols);
  const float r = static_cast<float>(rows), c = static_cast<float>(cols);
  for (size_t i = 0; i < n; ++i) blurred[i] = blurred[i] / r / c;
}

}  // namespace

int PaddedLength(int n) {
  const double logN = LogF(static_cast<float>(n));
  int64_t best = INT64_MAX;
  for (int base : {2, 3, 5, 7}) {
    const int exponent = static_cast<int>(std::ceil(logN / std::log(static_cast<double>(base))));
    int64_t power = 1;
    for (int k = 0; k < exponent && power < best; ++k) power *= base;
    best = std::min(best, power);
  }
  return static_cast<int>(best);
}

void EdgeTaper(const float* image, float* result, int rows, int cols, const float* kernel,
               int kernelRows, int kernelCols) {
  const size_t n = GridSize(rows, cols);
  FloatArray ph(static_cast<size_t>(kernelCols)), pv(static_cast<size_t>(kernelRows));
  ph.zero();
  pv.zero();
  for (int i = 0; i < kernelRows; ++i)
    for (int j = 0; j < kernelCols; ++j) ph[j] += kernel[GridSize(i, kernelCols) + j];
  for (int i = 0; i < kernelRows; ++i)
    for (int j = 0; j < kernelCols; ++j) pv[i] += kernel[GridSize(i, kernelCols) + j];
  FloatArray h(static_cast<size_t>(cols)), v(static_cast<size_t>(rows)), blurred(n);
  TaperWeights(ph.get(), kernelCols, cols, h.get());
  TaperWeights(pv.get(), kernelRows, rows, v.get());
  BlurredCopy(image, blurred.get(), rows, cols, kernel, kernelRows, kernelCols);
  float lo = 100000.0f, hi = 0.0f;
  for (size_t i = 0; i < n; ++i) {
    lo = std::min(lo, image[i]);
    hi = std::max(hi, image[i]);
  }
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < cols; ++x) {
      const size_t i = GridSize(y, cols) + x;
      const float alpha = (1.0f - h[x]) * (1.0f - v[y]);
      const float j = alpha * image[i] + (1.0f - alpha) * blurred[i];
      result[i] = std::min(std::max(j, lo), hi);
    }
  }
}

void BuildLevelSpectra(const float* image, const float* kernel, int cols, int rows,
                       int kernelCols, int kernelRows, LevelSpectra* s) {
  const size_t n = GridSize(rows, cols);
  DerivativeSpectra(rows, cols, s);
  {
    FloatArray tapered(n);
    EdgeTaper(image, tapered.get(), rows, cols, kernel, kernelRows, kernelCols);
    s->FreqB = ComplexArray(n);
    RealSpectrum(tapered.get(), s->FreqB.get(), rows, cols);
  }
  s->Bx = FloatArray(n);
  s->By = FloatArray(n);
  ForwardDifferences(image, rows, cols, s->Bx.get(), s->By.get());

  s->padRows = PaddedLength(rows + kernelRows - 1);
  s->padCols = PaddedLength(cols + kernelCols - 1);
  s->padTop = (s->padRows - rows) / 2;
  s->padBottom = s->padRows - rows - s->padTop;
  s->padLeft = (s->padCols - cols) / 2;
  s->padRight = s->padCols - cols - s->padLeft;
  FloatArray grid(GridSize(s->padRows, s->padCols));
  s->BxFre = PaddedSpectrum(s->Bx.get(), rows, cols, *s, grid.get());
  s->ByFre = PaddedSpectrum(s->By.get(), rows, cols, *s, grid.get());
}

void PlaceInPaddedGrid(const float* plane, int rows, int cols, const LevelSpectra& s,
                       float* grid) {
  std::fill_n(grid, GridSize(s.padRows, s.padCols), 0.0f);
  for (int y = 0; y < rows; ++y)
    std::copy_n(plane + GridSize(y, cols), cols, grid + GridSize(y + s.padTop, s.padCols) + s.padLeft);
}

void ReleaseLevelSpectra(LevelSpectra* s) {
  s->Bx.reset();
  s->By.reset();
  s->FreqDerrs.reset();
  s->FreqB.reset();
  s->FreqWt.reset();
  s->BxFre.reset();
  s->ByFre.reset();
}

}  // namespace velmora
