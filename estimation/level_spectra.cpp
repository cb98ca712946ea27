#include "estimation/level_spectra.h"

#include "pipeline/difference_spectra.h"
#include "pipeline/parallel_for.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace velmora {

namespace {

float SquaredMagnitude(const fftwf_complex& c) { return c[0] * c[0] + c[1] * c[1]; }

void DerivativeSpectra(int rows, int cols, LevelSpectra* s) {
  const int half = HalfCols(cols);
  const DifferenceEnergies energies(rows, cols);
  s->FreqDerrs = FloatArray(GridSize(rows, half));
  s->FreqWt = FloatArray(GridSize(rows, half));
  VELMORA_PARALLEL_FOR(GridSize(rows, half))
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < half; ++j) {
      const size_t k = GridSize(i, half) + j;
      s->FreqDerrs[k] = energies.First(i, j);
      s->FreqWt[k] = s->FreqDerrs[k] * 0.5f + 1.0f + energies.Second(i, j) * 0.25f;
    }
}

void ForwardDifferences(const float* image, int rows, int cols, float* bx, float* by) {
  VELMORA_PARALLEL_FOR(GridSize(rows, cols))
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
  ComplexArray spectrum(GridSize(s.padRows, HalfCols(s.padCols)));
  RealFft2d(grid, spectrum.get(), s.padRows, s.padCols);
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
  Fft1d(v.get(), f.get(), length, FFTW_FORWARD);
  for (int i = 0; i < length; ++i) {
    f[i][0] = SquaredMagnitude(f[i]);
    f[i][1] = 0.0f;
  }
  Fft1d(f.get(), v.get(), length, FFTW_BACKWARD);
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
  const size_t half = GridSize(rows, HalfCols(cols));
  ComplexArray spectrum(half), transfer(half);
  RealFft2d(image, spectrum.get(), rows, cols);
  KernelToHalfSpectrum(kernel, transfer.get(), rows, cols, kernelRows, kernelCols);
  VELMORA_PARALLEL_FOR(half)
  for (size_t k = 0; k < half; ++k) {
    fftwf_complex& a = spectrum[k];
    const fftwf_complex& b = transfer[k];
    const float ar = a[0], ai = a[1];
    a[0] = ar * b[0] - ai * b[1];
    a[1] = ar * b[1] + ai * b[0];
  }
  InverseRealFft2d(spectrum.get(), blurred, rows, cols);
  const float r = static_cast<float>(rows), c = static_cast<float>(cols);
  VELMORA_PARALLEL_FOR(n)
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
  VELMORA_PARALLEL_FOR(n)
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
    s->FreqB = ComplexArray(GridSize(rows, HalfCols(cols)));
    RealFft2d(tapered.get(), s->FreqB.get(), rows, cols);
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

LevelWorkspace::LevelWorkspace(const LevelSpectra& s, int rows, int cols) {
  const size_t floats = std::max({GridSize(rows, cols), GridSize(s.padRows, s.padCols),
                                  2 * GridSize(rows, HalfCols(cols)),
                                  2 * GridSize(s.padRows, HalfCols(s.padCols))});
  for (FloatArray& b : buffers) b = FloatArray(floats);
}

void PlaceInPaddedGrid(const float* plane, int rows, int cols, const LevelSpectra& s,
                       float* grid) {
  VELMORA_PARALLEL_FOR(GridSize(s.padRows, s.padCols))
  for (int p = 0; p < s.padRows; ++p) {
    float* out = grid + GridSize(p, s.padCols);
    const int y = p - s.padTop;
    if (y < 0 || y >= rows) {
      std::fill_n(out, s.padCols, 0.0f);
      continue;
    }
    std::fill_n(out, s.padLeft, 0.0f);
    std::copy_n(plane + GridSize(y, cols), cols, out + s.padLeft);
    std::fill(out + s.padLeft + cols, out + s.padCols, 0.0f);
  }
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
