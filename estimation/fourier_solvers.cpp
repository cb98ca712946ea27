#include "estimation/fourier_solvers.h"

#include <algorithm>

#include "estimation/level_spectra.h"

namespace velmora {

namespace {

void PadAndTransform(const float* plane, int rows, int cols, const LevelSpectra& s,
                     fftwf_complex* grid, fftwf_complex* spectrum) {
  std::fill_n(&grid[0][0], 2 * GridSize(s.padRows, s.padCols), 0.0f);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < cols; ++x)
      grid[GridSize(y + s.padTop, s.padCols) + x + s.padLeft][0] = plane[GridSize(y, cols) + x];
  Fft2d(grid, spectrum, s.padRows, s.padCols, FFTW_FORWARD);
}

// Clips in check mode: only an overshoot away from the side the pixel was
// on counts, since that is what a wrong kernel does to a latent image.
bool CheckedUpdate(const fftwf_complex* inverse, float* latent, size_t n) {
  const float count = static_cast<float>(n);
  size_t total = 0, over = 0;
  for (size_t i = 0; i < n; ++i) {
    float value = inverse[i][0] / count;
    ++total;
    if (latent[i] < 0.9) {
      if (value > 1.0f) {
        value = 1.0f;
        ++over;
      }
    } else if (value < 0.0f) {
      value = 0.0f;
      ++over;
    }
    latent[i] = value;
  }
  return !(0.2 * static_cast<double>(total) < static_cast<double>(over));
}

}  // namespace

void EstimateKernelFFT(const float* gradX, const float* gradY, const LevelSpectra& s, int rows,
                       int cols, int kernelRows, int kernelCols, float* kernel, float wtKreg) {
  const size_t n = GridSize(s.padRows, s.padCols);
  ComplexArray grid(n), ix(n), iy(n);
  PadAndTransform(gradX, rows, cols, s, grid.get(), ix.get());
  PadAndTransform(gradY, rows, cols, s, grid.get(), iy.get());
  const fftwf_complex* p = s.BxFre.get();
  const fftwf_complex* q = s.ByFre.get();
  for (size_t i = 0; i < n; ++i) {
    const float xr = ix[i][0], xi = ix[i][1], yr = iy[i][0], yi = iy[i][1];
    const float den = 0.5f * ((xr * xr + xi * xi) + (yr * yr + yi * yi)) + wtKreg;
    const float re = xr * p[i][0] + xi * p[i][1] + yr * q[i][0] + yi * q[i][1];
    const float im = xr * p[i][1] - xi * p[i][0] + yr * q[i][1] - yi * q[i][0];
    grid[i][0] = 0.5f * re / den;
    grid[i][1] = 0.5f * im / den;
  }
  KernelFromSpectrum(grid.get(), kernel, s.padRows, s.padCols, kernelRows, kernelCols);
}

void KernelFromSpectrum(fftwf_complex* spectrum, float* kernel, int gridRows, int gridCols,
                        int kernelRows, int kernelCols) {
  ComplexArray spatial(GridSize(gridRows, gridCols));
  Fft2d(spectrum, spatial.get(), gridRows, gridCols, FFTW_BACKWARD);
  const float count = static_cast<float>(GridSize(gridRows, gridCols));
  const int hr = kernelRows / 2, hc = kernelCols / 2;
  for (int i = 0; i < kernelRows; ++i) {
    const int r = ((i - hr) % gridRows + gridRows) % gridRows;
    for (int j = 0; j < kernelCols; ++j) {
      const int c = ((j - hc) % gridCols + gridCols) % gridCols;
      kernel[GridSize(i, kernelCols) + j] = spatial[GridSize(r, gridCols) + c][0] / count;
    }
  }
}

bool UpdateLatentImage(const float* kernel, float* latent, const LevelSpectra& s, int rows,
                       int cols, int kernelRows, int kernelCols, float wtIreg, bool check) {
  const size_t n = GridSize(rows, cols);
  ComplexArray fk(n), result(n);
  KernelToSpectrum(kernel, fk.get(), rows, cols, kernelRows, kernelCols);
  for (size_t i = 0; i < n; ++i) {
    const float w = s.FreqWt[i][0], d = s.FreqDerrs[i][0];
    const float br = s.FreqB[i][0], bi = s.FreqB[i][1];
    const float kr = fk[i][0], ki = fk[i][1];
    const float den = w * (kr * kr + ki * ki) + wtIreg * d;
    fk[i][0] = (kr * br + ki * bi) * w / den;
    fk[i][1] = (kr * bi - ki * br) * w / den;
  }
  Fft2d(fk.get(), result.get(), rows, cols, FFTW_BACKWARD);
  if (check) return CheckedUpdate(result.get(), latent, n);
  const float count = static_cast<float>(n);
  for (size_t i = 0; i < n; ++i) latent[i] = ClampUnit(result[i][0] / count);
  return true;
}

}  // namespace velmora
