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

// A plane placed into a zeroed padRows x padCols grid at (top, left), then
// forward-transformed.
ComplexArray PaddedSpectrum(const float* plane, int rows, int cols, const LevelSpectra& s,
                            fftwf_complex* grid) {
  std::fill_n(&grid[0][0], 2 * GridSize(s.padRows, s.padCols), 0.0f);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < cols; ++x)
      grid[GridSize(y + s.padTop, s.padCols) + x + s.padLeft][0] = plane[GridSize(y, cols) + x];
  ComplexArray spectrum(GridSize(s.padRows, s.padCols));
  Fft2d(grid, spectrum.get(), s.padRows, s.padCols, FFTW_FORWARD);
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
  ComplexArray spatial(n), spectrum(n), transfer(n);
  RealToComplex(image, spatial.get(), n);
  Fft2d(spatial.get(), spectrum.get(), rows, cols, FFTW_FORWARD);
  KernelToSpectrum(kernel, transfer.get(), rows, cols, kernelRows, kernelCols);
  for (size_t i = 0; i < n; ++i) {
    const float ar = spectrum[i][0], ai = spectrum[i][1];
    const float br = transfer[i][0], bi = transfer[i][1];
    spectrum[i][0] = ar * br - ai * bi;
    spectrum[i][1] = ar * bi + ai * br;
  }
  Fft2d(spectrum.get(), spatial.get(), rows, cols, FFTW_BACKWARD);
  const float r = static_cast<float>(rows), c = static_cast<float>(cols);
  for (size_t i = 0; i < n; ++i) blurred[i] = spatial[i][0] / r / c;
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
    ComplexArray spatial(n);
    RealToComplex(tapered.get(), spatial.get(), n);
    s->FreqB = ComplexArray(n);
    Fft2d(spatial.get(), s->FreqB.get(), rows, cols, FFTW_FORWARD);
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
  ComplexArray grid(GridSize(s->padRows, s->padCols));
  s->BxFre = PaddedSpectrum(s->Bx.get(), rows, cols, *s, grid.get());
  s->ByFre = PaddedSpectrum(s->By.get(), rows, cols, *s, grid.get());
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
