#include "pipeline/parallel_for.h"
#include "pipeline/pad_image.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "pipeline/difference_spectra.h"
#include "pipeline/pyramid.h"
#include "pipeline/resample.h"
#include "pipeline/spectral.h"
#include "pipeline/job_context.h"
#include "src/cupadimage.h"

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
  VELMORA_PARALLEL_FOR(level.planeSize())
  for (int i = 0; i < level.rows; ++i)
    std::copy_n(image + GridSize(i, level.cols), level.cols,
                canvas + GridSize(i + top, level.canvasCols) + left);
}

// Coarsest level: the edge samples replicated outwards.
void ReplicateEdges(const PadLevel& level, int c) {
  const float* image = level.image + level.planeSize() * c;
  float* canvas = level.canvas + level.canvasPlaneSize() * c;
  const int top = level.top(), left = level.left();
  VELMORA_PARALLEL_FOR(level.canvasPlaneSize())
  for (int n = 0; n < level.canvasRows; ++n) {
    const int r = std::clamp(n - top, 0, level.rows - 1);
    for (int k = 0; k < level.canvasCols; ++k) {
      const int q = std::clamp(k - left, 0, level.cols - 1);
      canvas[GridSize(n, level.canvasCols) + k] = image[GridSize(r, level.cols) + q];
    }
  }
}

VELMORA_WIDE_VECTORS
void ApplyGain(fftwf_complex* spectrum, const float* gain, int n) {
  for (int k = 0; k < n; ++k) {
    spectrum[k][0] = spectrum[k][0] * gain[k];
    spectrum[k][1] = spectrum[k][1] * gain[k];
  }
}

VELMORA_WIDE_VECTORS
void ClampToUnit(float* values, int n) {
  for (int k = 0; k < n; ++k) values[k] = std::clamp(values[k], 0.0f, 1.0f);
}

}  // namespace

int PaddingLevelCount(int m) { return std::max(1, PyramidLevelCount(m, kPyramidRatio)); }

int PaddingKernelSide(int side, float f) { return CoarseKernelSide(side, f); }

void BuildPaddingSpectra(const float* kernel, int cols, int rows, int kernelCols,
                         int kernelRows, float wt_ireg, float wt_breg, PaddingSpectra* spectra) {
  const int half = HalfCols(cols);
  ComplexArray freqF(GridSize(rows, half));
  KernelToHalfSpectrum(kernel, freqF.get(), rows, cols, kernelRows, kernelCols);
  const DifferenceEnergies energies(rows, cols);
  // The inverse transform's 1 / N comes with the gain.
  const float count = static_cast<float>(GridSize(rows, cols));
  spectra->gain = FloatArray(GridSize(rows, half));
  float* gain = spectra->gain.get();
  VELMORA_PARALLEL_FOR(GridSize(rows, half))
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < half; ++j) {
      const size_t k = GridSize(i, half) + j;
      const float f2 = SquaredMagnitude(freqF[k]);
      const float d = energies.First(i, j);
      const float w = energies.Weight(i, j);
      const float den1 = w * f2 + wt_ireg * d;
      const float den2 = w + d * wt_breg;
      gain[k] = w * w * f2 / (den1 * den2) / count;
    }
  }
  spectra->rows = rows;
  spectra->cols = cols;
}

void ReleasePaddingSpectra(PaddingSpectra* spectra) { spectra->gain.reset(); }

namespace {

// The step's transforms and gain, without the clamping.
void FilterPlane(float* plane, int cols, int rows, const PaddingSpectra& spectra,
                 fftwf_complex* work) {
  // The plane is real and so is what comes back: half spectra suffice.
  [[maybe_unused]] const size_t half = GridSize(rows, HalfCols(cols));
  RealFft2d(plane, work, rows, cols);
  const float* gain = spectra.gain.get();
  const int halfCols = HalfCols(cols);
  VELMORA_PARALLEL_FOR(half)
  for (int i = 0; i < rows; ++i)
    ApplyGain(work + GridSize(i, halfCols), gain + GridSize(i, halfCols), halfCols);
  InverseRealFft2d(work, plane, rows, cols);
}

// One step of the padding loop: the refinement, then the known samples put
// back, in one pass over the canvas (the image area needs no clamping: it
// is overwritten).
void RefineAndRestore(const PadLevel& level, int c, const PaddingSpectra& spectra,
                      fftwf_complex* work) {
  float* canvas = level.canvas + level.canvasPlaneSize() * c;
  FilterPlane(canvas, level.canvasCols, level.canvasRows, spectra, work);
  const float* image = level.image + level.planeSize() * c;
  const int top = level.top(), left = level.left(), cols = level.canvasCols;
  VELMORA_PARALLEL_FOR(level.canvasPlaneSize())
  for (int n = 0; n < level.canvasRows; ++n) {
    float* row = canvas + GridSize(n, cols);
    const int i = n - top;
    if (i < 0 || i >= level.rows) {
      ClampToUnit(row, cols);
      continue;
    }
    ClampToUnit(row, left);
    std::copy_n(image + GridSize(i, level.cols), level.cols, row + left);
    ClampToUnit(row + left + level.cols, cols - left - level.cols);
  }
}

// A level's spectra on the GPU path: four whole rows x cols spectra, built
// and used by the device steps.
struct GpuSpectra {
  explicit GpuSpectra(const PadLevel& level)
      : F(Size(level)), F2(Size(level)), Wt(Size(level)), Derrs(Size(level)) {
    int rows = 0, cols = 0;
    gpu::BuildPaddingSpectraGpu(level.kernel, level.canvasCols, level.canvasRows, level.kernelCols,
                                level.kernelRows, At(F), At(F2), At(Wt), At(Derrs), &rows, &cols);
  }
  void Refine(float* plane, const PadLevel& level) const {
    gpu::RefinePaddingGpu(plane, level.canvasCols, level.canvasRows, kInverseRegularisation,
                          kReblurSmoothing, At(F), At(F2), At(Wt), At(Derrs));
  }
  static size_t Size(const PadLevel& level) {
    return GridSize(level.canvasRows, level.canvasCols);
  }
  static gpu::Float2* At(const ComplexArray& a) { return reinterpret_cast<gpu::Float2*>(a.get()); }
  ComplexArray F, F2, Wt, Derrs;
};

}  // namespace

void RefinePadding(float* plane, int cols, int rows, const PaddingSpectra& spectra,
                   fftwf_complex* work) {
  FilterPlane(plane, cols, rows, spectra, work);
  VELMORA_PARALLEL_FOR(GridSize(rows, cols))
  for (int i = 0; i < rows; ++i) ClampToUnit(plane + GridSize(i, cols), cols);
}

namespace {

// Fills the canvas of one level, plane by plane: from the edges at the
// coarsest level, else from the coarser level's canvas, then refined
// kRefinementSteps times with the known pixels re-imposed.
void FillLevel(const std::vector<PadLevel>& levels, int o, int channels, bool useCpu,
               fftwf_complex* work) {
  const PadLevel& level = levels[o];
  std::optional<SpectraHolder> cpu;
  std::optional<GpuSpectra> gpu;
  if (useCpu) {
    cpu.emplace();
    BuildPaddingSpectra(level.kernel, level.canvasCols, level.canvasRows, level.kernelCols,
                        level.kernelRows, kInverseRegularisation, kReblurSmoothing, &cpu->spectra);
  } else {
    gpu.emplace(level);
  }
  for (int c = 0; c < channels; ++c) {
    float* plane = level.canvas + level.canvasPlaneSize() * c;
    if (o == static_cast<int>(levels.size()) - 1) {
      ReplicateEdges(level, c);
    } else {
      const PadLevel& coarser = levels[o + 1];
      ResizeToSize(coarser.canvas + coarser.canvasPlaneSize() * c, plane, coarser.canvasRows,
                   coarser.canvasCols, level.canvasRows, level.canvasCols);
      RestoreImageArea(level, c);
    }
    for (int step = 0; step < kRefinementSteps; ++step) {
      Checkpoint();
      if (cpu) {
        RefineAndRestore(level, c, cpu->spectra, work);
      } else {
        gpu->Refine(plane, level);
        RestoreImageArea(level, c);
      }
    }
  }
}

}  // namespace

bool PadImage(const float* input, float* output, const float* kernel, int cols, int rows,
              int channels, int kernelCols, int kernelRows, int padCols, int padRows,
              bool useCpu) {
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
    for (int m = 1; m < levelCount; ++m) {
      BuildCoarserLevel(base, channels, m, &levels[m]);
      Checkpoint();
    }
    // One spectrum array serves every level: the finest is the largest.
    ComplexArray work(useCpu ? GridSize(padRows, HalfCols(padCols)) : 0);
    for (int o = levelCount - 1; o >= 0; --o) FillLevel(levels, o, channels, useCpu, work.get());
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace velmora
