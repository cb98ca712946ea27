#include "estimation/fourier_solvers.h"

#include <algorithm>
#include <optional>

#include "estimation/level_spectra.h"
#include "pipeline/parallel_for.h"
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
  size_t over = 0;
#pragma omp parallel for schedule(static) reduction(+ : over) if (n >= kParallelSamples)
  for (size_t i = 0; i < n; ++i) {
    float value = inverse[i] / count;
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
  return !(0.2 * static_cast<double>(n) < static_cast<double>(over));
}

// The kernel's spectrum from the gradients' (ix, iy: written over ix) and
// the blurred image's (bx, by), n frequencies.
VELMORA_WIDE_VECTORS
void KernelFrequencies(fftwf_complex* ix, const fftwf_complex* iy, const fftwf_complex* bx,
                       const fftwf_complex* by, float wtKreg, int n) {
  for (int h = 0; h < n; ++h) {
    const fftwf_complex& p = bx[h];
    const fftwf_complex& q = by[h];
    const float xr = ix[h][0], xi = ix[h][1], yr = iy[h][0], yi = iy[h][1];
    const float den = 0.5f * ((xr * xr + xi * xi) + (yr * yr + yi * yi)) + wtKreg;
    const float re = xr * p[0] + xi * p[1] + yr * q[0] + yi * q[1];
    const float im = xr * p[1] - xi * p[0] + yr * q[1] - yi * q[0];
    ix[h][0] = 0.5f * re / den;
    ix[h][1] = 0.5f * im / den;
  }
}

// W conj(K) B / (W |K|^2 + wtIreg D) over n frequencies.
VELMORA_WIDE_VECTORS
void LatentFrequencies(fftwf_complex* solution, const fftwf_complex* fk, const fftwf_complex* fb,
                       const float* wt, const float* derrs, float wtIreg, int n) {
  for (int f = 0; f < n; ++f) {
    const float w = wt[f], d = derrs[f];
    const float br = fb[f][0], bi = fb[f][1];
    const float kr = fk[f][0], ki = fk[f][1];
    const float den = w * (kr * kr + ki * ki) + wtIreg * d;
    solution[f][0] = (kr * br + ki * bi) * w / den;
    solution[f][1] = (kr * bi - ki * br) * w / den;
  }
}

// The caller's workspace, or one made for this call.
class Scratch {
 public:
  Scratch(LevelWorkspace* given, const LevelSpectra& s, int rows, int cols) : work_(given) {
    if (!work_) work_ = &own_.emplace(s, rows, cols);
  }
  LevelWorkspace* operator->() const { return work_; }

 private:
  std::optional<LevelWorkspace> own_;
  LevelWorkspace* work_;
};

}  // namespace

void EstimateKernelFFT(const float* gradX, const float* gradY, const LevelSpectra& s, int rows,
                       int cols, int kernelRows, int kernelCols, float* kernel, float wtKreg,
                       LevelWorkspace* workspace) {
  // Gradients and kernel are real: half spectra carry the whole solve.
  const Scratch work(workspace, s, rows, cols);
  const int half = HalfCols(s.padCols);
  [[maybe_unused]] const size_t packed = GridSize(s.padRows, half);
  // The gradients may be the workspace's last two arrays (the prediction
  // leaves them there): each is placed in the grid before its array is
  // written.
  float* grid = work->plane(0);
  fftwf_complex* ix = work->spectrum(1);
  fftwf_complex* iy = work->spectrum(3);
  PlaceInPaddedGrid(gradX, rows, cols, s, grid);
  RealFft2d(grid, ix, s.padRows, s.padCols);
  PlaceInPaddedGrid(gradY, rows, cols, s, grid);
  RealFft2d(grid, iy, s.padRows, s.padCols);
  const fftwf_complex* bx = s.BxFre.get();
  const fftwf_complex* by = s.ByFre.get();
  VELMORA_PARALLEL_FOR(packed)
  for (int r = 0; r < s.padRows; ++r) {
    const size_t at = GridSize(r, half);
    KernelFrequencies(ix + at, iy + at, bx + at, by + at, wtKreg, half);
  }
  InverseRealFft2d(ix, grid, s.padRows, s.padCols);
  CutKernel(grid, kernel, s.padRows, s.padCols, kernelRows, kernelCols);
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
                       int cols, int kernelRows, int kernelCols, float wtIreg, bool check,
                       LevelWorkspace* workspace) {
  const Scratch work(workspace, s, rows, cols);
  const size_t n = GridSize(rows, cols);
  [[maybe_unused]] const size_t half = GridSize(rows, HalfCols(cols));
  fftwf_complex* fk = work->spectrum(1);
  fftwf_complex* solution = work->spectrum(2);
  KernelToHalfSpectrum(kernel, fk, rows, cols, kernelRows, kernelCols, work->plane(0));
  // The new latent image is real: only the half spectrum is solved.
  const int halfCols = HalfCols(cols);
  VELMORA_PARALLEL_FOR(half)
  for (int i = 0; i < rows; ++i) {
    const size_t at = GridSize(i, halfCols);
    LatentFrequencies(solution + at, fk + at, s.FreqB.get() + at, s.FreqWt.get() + at,
                      s.FreqDerrs.get() + at, wtIreg, halfCols);
  }
  float* inverse = work->plane(0);
  InverseRealFft2d(solution, inverse, rows, cols);
  if (check) return CheckedUpdate(inverse, latent, n);
  const float count = static_cast<float>(n);
  VELMORA_PARALLEL_FOR(n)
  for (size_t i = 0; i < n; ++i) latent[i] = ClampUnit(inverse[i] / count);
  return true;
}

}  // namespace velmora
