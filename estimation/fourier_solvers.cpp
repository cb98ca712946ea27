#include "estimation/fourier_solvers.h"

#include <algorithm>

#include "estimation/level_spectra.h"
#include "pipeline/pyramid.h"

namespace velmora {

namespace {

// The kernel around the origin of an unnormalised inverse transform: the
// centre cell comes from the grid origin, the rest wraps around.
void CutKernel(const float* grid, float* kernel, int gridRows, int gridCols, int kernelRows,
               int kernelCols) {
  const float count = static_cast<float>(GridSize(gridRows, gridCols));
  const int hr = kernelRows / 2, hc = kernelCols / 2;
  for (int i = 0; i < kernelRows; ++i) {
    const int r = ((i - hr) % gridRows + gridRows) % gridRows;
    for (int j = 0; j < kernelCols; ++j) {
      const int c = ((j - hc) % gridCols + gridCols) % gridCols;
      kernel[GridSize(i, kernelCols) + j] = grid[GridSize(r, gridCols) + c] / count;
    }
  }
}

// Clips in check mode: only an overshoot away from the side the pixel was
// on counts, since that is what a wrong kernel does to a latent image.
bool CheckedUpdate(const float* inverse, float* latent, size_t n) {
  const float count = static_cast<float>(n);
  size_t total = 0, over = 0;
  for (size_t i = 0; i < n; ++i) {
    float value = inverse[i] / count;
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
  // Gradients and kernel are real: half spectra carry the whole solve.
  const int half = HalfCols(s.padCols);
  const size_t packed = GridSize(s.padRows, half);
  FloatArray grid(GridSize(s.padRows, s.padCols));
  ComplexArray ix(packed), iy(packed);
  PlaceInPaddedGrid(gradX, rows, cols, s, grid.get());
  RealFft2d(grid.get(), ix.get(), s.padRows, s.padCols);
  PlaceInPaddedGrid(gradY, rows, cols, s, grid.get());
  RealFft2d(grid.get(), iy.get(), s.padRows, s.padCols);
  for (int r = 0; r < s.padRows; ++r) {
    for (int c = 0; c < half; ++c) {
      const size_t h = GridSize(r, half) + c, f = GridSize(r, s.padCols) + c;
      const fftwf_complex& p = s.BxFre[f];
      const fftwf_complex& q = s.ByFre[f];
      const float xr = ix[h][0], xi = ix[h][1], yr = iy[h][0], yi = iy[h][1];
      const float den = 0.5f * ((xr * xr + xi * xi) + (yr * yr + yi * yi)) + wtKreg;
      const float re = xr * p[0] + xi * p[1] + yr * q[0] + yi * q[1];
      const float im = xr * p[1] - xi * p[0] + yr * q[1] - yi * q[0];
      ix[h][0] = 0.5f * re / den;
      ix[h][1] = 0.5f * im / den;
    }
  }
  InverseRealFft2d(ix.get(), grid.get(), s.padRows, s.padCols);
  CutKernel(grid.get(), kernel, s.padRows, s.padCols, kernelRows, kernelCols);
}

void KernelFromSpectrum(fftwf_complex* spectrum, float* kernel, int gridRows, int gridCols,
                        int kernelRows, int kernelCols) {
  const size_t n = GridSize(gridRows, gridCols);
  ComplexArray spatial(n);
  Fft2d(spectrum, spatial.get(), gridRows, gridCols, FFTW_BACKWARD);
  FloatArray real(n);
  for (size_t i = 0; i < n; ++i) real[i] = spatial[i][0];
  CutKernel(real.get(), kernel, gridRows, gridCols, kernelRows, kernelCols);
}

bool UpdateLatentImage(const float* kernel, float* latent, const LevelSpectra& s, int rows,
                       int cols, int kernelRows, int kernelCols, float wtIreg, bool check) {
  const size_t n = GridSize(rows, cols);
  const int half = HalfCols(cols);
  ComplexArray fk(n), solution(GridSize(rows, half));
  KernelToSpectrum(kernel, fk.get(), rows, cols, kernelRows, kernelCols);
  // The new latent image is real: only the half spectrum is solved.
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < half; ++j) {
      const size_t f = GridSize(i, cols) + j;
      const float w = s.FreqWt[f][0], d = s.FreqDerrs[f][0];
      const float br = s.FreqB[f][0], bi = s.FreqB[f][1];
      const float kr = fk[f][0], ki = fk[f][1];
      const float den = w * (kr * kr + ki * ki) + wtIreg * d;
      fftwf_complex& out = solution[GridSize(i, half) + j];
      out[0] = (kr * br + ki * bi) * w / den;
      out[1] = (kr * bi - ki * br) * w / den;
    }
  }
  FloatArray inverse(n);
  InverseRealFft2d(solution.get(), inverse.get(), rows, cols);
  if (check) return CheckedUpdate(inverse.get(), latent, n);
  const float count = static_cast<float>(n);
  for (size_t i = 0; i < n; ++i) latent[i] = ClampUnit(inverse[i] / count);
  return true;
}

}  // namespace velmora
