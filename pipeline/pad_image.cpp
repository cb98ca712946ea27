#include "pipeline/pad_image.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "pipeline/parallel.h"
#include "pipeline/pyramid.h"
#include "pipeline/resample.h"
#include "pipeline/spectral.h"

namespace velmora {

namespace {

constexpr float kPyramidRatio = 0.5f;
constexpr int kRefinementSteps = 10;
constexpr float kInverseRegularisation = 0.002f;  // wt_ireg
constexpr float kReblurSmoothing = 0.1f;          // wt_breg

// Frees a PaddingSpectra on every exit path.
struct SpectraHolder {
  PaddingSpectra spectra;
  ~SpectraHolder() { ReleasePaddingSpectra(&spectra); }
};

// One pyramid level: the image, its canvas and its kernel. Level 0 points at
// the caller's buffers; coarser levels own theirs.
struct PadLevel {
  const float* image = nullptr;
  int rows = 0, cols = 0;
  float* canvas = nullptr;
  int canvasRows = 0, canvasCols = 0;
  const float* kernel = nullptr;
  int kernelRows = 0, kernelCols = 0;
  FloatArray imageStore, canvasStore, kernelStore;

  size_t planeSize() const { return GridSize(rows, cols); }
  size_t canvasPlaneSize() const { return GridSize(canvasRows, canvasCols); }
  int top() const { return CanvasOffset(canvasRows, rows); }
  int left() const { return CanvasOffset(canvasCols, cols); }
};

float SquaredMagnitude(const fftwf_complex& z) { return z[0] * z[0] + z[1] * z[1]; }

void BuildCoarserLevel(const PadLevel& base, int channels, int m, PadLevel* level) {
  const float f = PowInt(kPyramidRatio, m);
  level->rows = ScaledSize(base.rows, f);
  level->cols = ScaledSize(base.cols, f);
  level->imageStore = FloatArray(level->planeSize() * channels);
  for (int c = 0; c < channels; ++c)
    ResizeByScale(base.image + base.planeSize() * c, level->imageStore.get() + level->planeSize() * c,
                  base.rows, base.cols, f);
  level->image = level->imageStore.get();

  level->canvasRows = ScaledSize(base.canvasRows, f);
  level->canvasCols = ScaledSize(base.canvasCols, f);
  level->canvasStore = FloatArray(level->canvasPlaneSize() * channels);
  level->canvas = level->canvasStore.get();

  level->kernelRows = PaddingKernelSide(base.kernelRows, f);
  level->kernelCols = PaddingKernelSide(base.kernelCols, f);
  const size_t n = GridSize(level->kernelRows, level->kernelCols);
  level->kernelStore = FloatArray(n);
  float* k = level->kernelStore.get();
  ResizeToSize(base.kernel, k, base.kernelRows, base.kernelCols, level->kernelRows,
               level->kernelCols);
  NormaliseKernel(k, level->kernelRows, level->kernelCols);
  level->kernel = k;
}

// Puts the known image samples of plane c back into the canvas.
void RestoreImageArea(const PadLevel& level, int c) {
  const float* image = level.image + level.planeSize() * c;
  float* canvas = level.canvas + level.canvasPlaneSize() * c;
  const int top = level.top(), left = level.left();
  for (int i = 0; i < level.rows; ++i)
    std::copy_n(image + GridSize(i, level.cols), level.cols,
                canvas + GridSize(i + top, level.canvasCols) + left);
}

// Coarsest level: the edge samples replicated outwards.
void ReplicateEdges(const PadLevel& level, int c) {
  const float* image = level.image + level.planeSize() * c;
  float* canvas = level.canvas + level.canvasPlaneSize() * c;
  const int top = level.top(), left = level.left();
  for (int n = 0; n < level.canvasRows; ++n) {
    const int r = std::clamp(n - top, 0, level.rows - 1);
    for (int k = 0; k < level.canvasCols; ++k) {
      const int q = std::clamp(k - left, 0, level.cols - 1);
      canvas[GridSize(n, level.canvasCols) + k] = image[GridSize(r, level.cols) + q];
    }
  }
}

}  // namespace

int PaddingLevelCount(int m) { return std::max(1, PyramidLevelCount(m, kPyramidRatio)); }

int PaddingKernelSide(int side, float f) { return CoarseKernelSide(side, f); }

void BuildPaddingSpectra(const float* kernel, int cols, int rows, int kernelCols,
                         int kernelRows, PaddingSpectra* spectra) {
  static const float dx[3] = {1, -1, 0};
  static const float dxx[5] = {1, -2, 1, 0, 0};
  static const float dxy[9] = {1, -1, 0, -1, 1, 0, 0, 0, 0};
  const size_t n = GridSize(rows, cols);
  ComplexArray derrs(n), f2(n), wt(n), freqF(n);
  {
    ComplexArray a(n), b(n), c(n);
    KernelToSpectrum(dx, a.get(), rows, cols, 1, 3);
    KernelToSpectrum(dx, b.get(), rows, cols, 3, 1);
    for (size_t i = 0; i < n; ++i) {
      derrs[i][0] = SquaredMagnitude(a[i]) + SquaredMagnitude(b[i]);
      derrs[i][1] = 0.0f;
    }
    KernelToSpectrum(dxx, a.get(), rows, cols, 1, 5);
    KernelToSpectrum(dxx, b.get(), rows, cols, 5, 1);
    KernelToSpectrum(dxy, c.get(), rows, cols, 3, 3);
    for (size_t i = 0; i < n; ++i) {
      const float u = SquaredMagnitude(a[i]) + SquaredMagnitude(b[i]) + SquaredMagnitude(c[i]);
      wt[i][0] = 1.0f + 0.5f * derrs[i][0] + 0.25f * u;
      wt[i][1] = 0.0f;
    }
  }
  KernelToSpectrum(kernel, freqF.get(), rows, cols, kernelRows, kernelCols);
  for (size_t i = 0; i < n; ++i) {
    f2[i][0] = SquaredMagnitude(freqF[i]);
    f2[i][1] = 0.0f;
  }
  spectra->FreqDerrs = derrs.release();
  spectra->FreqF2 = f2.release();
  spectra->FreqWt = wt.release();
  spectra->FreqF = freqF.release();
  spectra->rows = rows;
  spectra->cols = cols;
}

void ReleasePaddingSpectra(PaddingSpectra* spectra) {
  for (fftwf_complex** p : {&spectra->FreqDerrs, &spectra->FreqF2, &spectra->FreqWt, &spectra->FreqF}) {
    if (*p) fftwf_free(*p);
    *p = nullptr;
  }
}

void RefinePadding(float* plane, int cols, int rows, float wt_ireg, float wt_breg,
                   const PaddingSpectra& spectra) {
  // The plane is real and so is what comes back: half spectra suffice.
  const int half = HalfCols(cols);
  ComplexArray fb(GridSize(rows, half));
  RealFft2d(plane, fb.get(), rows, cols);
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < half; ++j) {
      const size_t k = GridSize(i, cols) + j;
      fftwf_complex& b = fb[GridSize(i, half) + j];
      const float fr = spectra.FreqF[k][0], fi = spectra.FreqF[k][1];
      const float w = spectra.FreqWt[k][0];
      const float f2 = spectra.FreqF2[k][0];
      const float d = spectra.FreqDerrs[k][0];
      const float br = b[0], bi = b[1];
      const float den1 = w * f2 + wt_ireg * d;
      const float qr = (fr * br + fi * bi) * w / den1;
      const float qi = w * (fr * bi - br * fi) / den1;
      const float den2 = w + d * wt_breg;
      b[0] = w * (fr * qr - fi * qi) / den2;
      b[1] = (qi * fr + qr * fi) * w / den2;
    }
  }
  InverseRealFft2d(fb.get(), plane, rows, cols);
  const float count = static_cast<float>(GridSize(rows, cols));
  const size_t n = GridSize(rows, cols);
  for (size_t i = 0; i < n; ++i) plane[i] = std::clamp(plane[i] / count, 0.0f, 1.0f);
}

bool PadImage(const float* input, float* output, const float* kernel, int cols, int rows,
              int channels, int kernelCols, int kernelRows, int padCols, int padRows,
              bool useCpu) {
  (void)useCpu;  // the GPU steps plug in here; the CPU steps serve both modes for now
  if (!input || !output || !kernel || rows < 1 || cols < 1 || channels < 1 || kernelRows < 1 ||
      kernelCols < 1 || padRows < rows || padCols < cols || kernelRows > padRows ||
      kernelCols > padCols)
    return false;
  try {
    const int levelCount = PaddingLevelCount(std::max(kernelRows, kernelCols));
    std::vector<PadLevel> levels(levelCount);
    PadLevel& base = levels[0];
    base.image = input;
    base.rows = rows;
    base.cols = cols;
    base.canvas = output;
    base.canvasRows = padRows;
    base.canvasCols = padCols;
    base.kernel = kernel;
    base.kernelRows = kernelRows;
    base.kernelCols = kernelCols;
    for (int m = 1; m < levelCount; ++m) BuildCoarserLevel(base, channels, m, &levels[m]);

    for (int o = levelCount - 1; o >= 0; --o) {
      const PadLevel& level = levels[o];
      for (int c = 0; c < channels; ++c) {
        if (o == levelCount - 1) {
          ReplicateEdges(level, c);
        } else {
          const PadLevel& coarser = levels[o + 1];
          ResizeToSize(coarser.canvas + coarser.canvasPlaneSize() * c,
                       level.canvas + level.canvasPlaneSize() * c, coarser.canvasRows,
                       coarser.canvasCols, level.canvasRows, level.canvasCols);
          RestoreImageArea(level, c);
        }
      }
      SpectraHolder holder;
      BuildPaddingSpectra(level.kernel, level.canvasCols, level.canvasRows, level.kernelCols,
                          level.kernelRows, &holder.spectra);
      const size_t scratch = level.canvasPlaneSize() * sizeof(fftwf_complex);
      ForEachPlane(channels, scratch, [&](int c) {
        float* plane = level.canvas + level.canvasPlaneSize() * c;
        for (int step = 0; step < kRefinementSteps; ++step) {
          RefinePadding(plane, level.canvasCols, level.canvasRows, kInverseRegularisation,
                        kReblurSmoothing, holder.spectra);
          RestoreImageArea(level, c);
        }
      });
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace velmora
