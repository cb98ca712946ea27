#include "pipeline/deconvolve.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <optional>
#include <vector>

#include "pipeline/job_context.h"
#include "pipeline/pad_image.h"
#include "pipeline/plan_cache.h"
#include "pipeline/pyramid.h"
#include "pipeline/progress.h"
#include "pipeline/spectral.h"
#include "pipeline/tv_deconv.h"
#include "src/fast_deconv_gpu.h"
#include "src/gpu_check.h"

namespace velmora {

namespace {

// Maps stage percentages onto the range [start, 99] found on entry.
class StageProgress {
 public:
  explicit StageProgress(ProgressCell* cell) : cell_(cell), start_(ReadProgress(cell)) {}
  void Stage(double percent) const {
    if (cell_) WriteProgress(cell_, Value(percent));
  }

 private:
  float Value(double percent) const {
    return static_cast<float>(start_ + percent / 100.0 * (99.0 - start_));
  }

  ProgressCell* cell_;
  double start_;
};

// Solves the planes of one canvas one after another. What does not change
// between planes (the kernel's spectra, the work arrays, the convolution of
// the noise-robust solver) is made once; the transforms and the element-wise
// passes inside each solve use every core.
class PlaneSolver {
 public:
  PlaneSolver(const float* kernel, int padRows, int padCols, int kernelRows, int kernelCols,
              int reduceNoise, bool modelsClipping)
      : kernel_(kernel), padRows_(padRows), padCols_(padCols), kernelRows_(kernelRows),
        kernelCols_(kernelCols), reduceNoise_(reduceNoise) {
    if (kernelRows % 2 == 0 || kernelCols % 2 == 0) return;  // refused at each solve, as the solvers say
    spectra_.emplace(kernel, padRows, padCols, kernelRows, kernelCols);
    work_.emplace(padRows, padCols);
    if (reduceNoise >= 1) convolution_.emplace(kernel, padRows, padCols, kernelRows, kernelCols);
    if (modelsClipping && reduceNoise < 1) clippedData_.emplace(padRows, padCols);
  }

  // A solve of the current plane; the ringing solve that may follow the
  // first shares its data numerator.
  bool Solve(const float* canvas, float* result, float weight) {
    if (!spectra_) return Refuse(canvas, result, weight);
    if (!ContinuationGoesOn(1.0f / weight, weight)) {  // a weight of 0: nothing to do
      std::copy_n(canvas, GridSize(padRows_, padCols_), result);
      return true;
    }
    if (reduceNoise_ >= 1) {
      SolveTVL1(canvas, result, *spectra_, *work_, *convolution_, weight,
                clipped_.empty() ? nullptr : &clipped_);
    } else if (clippedData_ && !clippedData_->clipped().empty()) {
      SolveTVL2(canvas, result, *spectra_, *work_, weight, *clippedData_);
    } else {
      if (!numeratorReady_) DataNumerator(canvas, *spectra_, *work_);
      numeratorReady_ = true;
      SolveTVL2(canvas, result, *spectra_, *work_, weight);
    }
    return true;
  }

  // The numerator belongs to one plane; clipped lists the plane's clipped
  // samples on the canvas (empty: none, or clipping not modelled).
  void NextPlane(const float* canvas, std::vector<size_t> clipped) {
    numeratorReady_ = false;
    if (clippedData_) clippedData_->Use(canvas, clipped);
    clipped_ = std::move(clipped);
  }

 private:
  bool Refuse(const float* canvas, float* result, float weight) {
    return reduceNoise_ >= 1 ? FastDeconvTVL1(canvas, result, kernel_, padRows_, padCols_,
                                              kernelRows_, kernelCols_, weight)
                             : FastDeconvTVL2(canvas, result, kernel_, padRows_, padCols_,
                                              kernelRows_, kernelCols_, weight);
  }

  const float* kernel_;
  int padRows_, padCols_, kernelRows_, kernelCols_, reduceNoise_;
  std::optional<KernelSpectra> spectra_;
  std::optional<TVWorkspace> work_;
  std::optional<ReplicateConvolution> convolution_;
  std::optional<ClippedData> clippedData_;
  std::vector<size_t> clipped_;
  bool numeratorReady_ = false;
};

// A failed solve with odd kernel sides can only mean that memory ran out.
// A refused even kernel is reported on the console for the first solve only;
// the ringing solve's flag is not examined.
void CheckSolve(bool solved, int kernelRows, int kernelCols, bool report) {
  if (solved) return;
  if (kernelRows % 2 == 1 && kernelCols % 2 == 1) throw std::bad_alloc();
  if (!report) return;
  EngineLog("error in running deblur.\n");
}

// R = R - D', where D' is the 7 x 7 median of the 8-bit coded difference
// R - R2: coherent differences (ringing, broad structure) follow the
// smoother solve, isolated detail stays.
void ReduceRinging(float* r, const float* r2, int padRows, int padCols) {
  cv::Mat first(padRows, padCols, CV_32F, r);
  const cv::Mat second(padRows, padCols, CV_32F, const_cast<float*>(r2));
  cv::Mat difference = first - second;
  cv::Mat coded;
  difference.convertTo(coded, CV_8U, 128.0, 127.0);
  cv::medianBlur(coded, coded, 7);
  coded.convertTo(difference, CV_32F, 1.0 / 128.0, -1.0);
  first -= difference;
}

void Crop(const float* canvas, float* plane, int rows, int cols, int padCols, int top, int left) {
  for (int i = 0; i < rows; ++i)
    std::copy_n(canvas + GridSize(i + top, padCols) + left, cols, plane + GridSize(i, cols));
}

// The CPU path: the planes one after another, each restored into one
// reused result plane and cropped into output.
// clippedFrom (the picture's planes, or null) marks the samples taken as
// lower bounds.
void SolvePlanesOnCpu(const float* canvas, float* output, const float* kernel, int rows, int cols,
                      int channels, int kernelRows, int kernelCols, float firstWeight,
                      float secondWeight, int deringFactor, int reduceNoise,
                      const StageProgress& stages, double firstStage, const float* clippedFrom) {
  const bool modelsClipping = clippedFrom != nullptr;
  const int padRows = CanvasSide(rows, kernelRows), padCols = CanvasSide(cols, kernelCols);
  const int top = CanvasOffset(padRows, rows), left = CanvasOffset(padCols, cols);
  const size_t canvasPlane = GridSize(padRows, padCols);
  PlaneSolver solver(kernel, padRows, padCols, kernelRows, kernelCols, reduceNoise, modelsClipping);
  FloatArray result(canvasPlane);
  FloatArray second(deringFactor > 1 ? canvasPlane : 0);
  for (int c = 0; c < channels; ++c) {
    stages.Stage(firstStage + static_cast<double>(c) / channels);
    const float* plane = canvas + canvasPlane * c;
    solver.NextPlane(plane, modelsClipping ? ClippedIndices(clippedFrom + GridSize(rows, cols) * c, rows,
                                                            cols, padCols, top, left)
                                           : std::vector<size_t>());
    CheckSolve(solver.Solve(plane, result.get(), firstWeight), kernelRows, kernelCols, true);
    if (deringFactor > 1) {
      CheckSolve(solver.Solve(plane, second.get(), secondWeight), kernelRows, kernelCols, false);
      ReduceRinging(result.get(), second.get(), padRows, padCols);
    }
    Crop(result.get(), output + GridSize(rows, cols) * c, rows, cols, padCols, top, left);
  }
}

// The GPU solvers take the three colour planes at once and odd kernels only;
// anything else keeps the CPU path, which answers every case.
bool SolvesOnGpu(bool useCpu, int channels, int kernelRows, int kernelCols) {
  return !useCpu && channels == 3 && kernelRows % 2 == 1 && kernelCols % 2 == 1;
}

// The GPU path: canvas (three padRows x padCols planes) restored in place.
void SolveColourOnGpu(float* canvas, const float* kernel, int padRows, int padCols, int kernelRows,
                      int kernelCols, float firstWeight, float secondWeight, int deringFactor,
                      int reduceNoise) {
  const size_t canvasPlane = GridSize(padRows, padCols);
  std::vector<cv::Mat> planes;
  for (int c = 0; c < 3; ++c) planes.emplace_back(padRows, padCols, CV_32F, canvas + canvasPlane * c);
  cv::Mat inM, out;
  cv::merge(planes, inM);
  const cv::Mat taps(kernelRows, kernelCols, CV_32F, const_cast<float*>(kernel));
  if (reduceNoise >= 1)
    gpu::FastDeconvTVL1Gpu(inM, out, taps, firstWeight, deringFactor, secondWeight);
  else
    gpu::FastDeconvTVL2Gpu(inM, out, taps, firstWeight, deringFactor, secondWeight);
  cv::split(out, planes);  // the planes are views of the canvas: written in place
}

// One restore's request: the kernel, the sizes and the solver settings.
struct Solve {
  const float* kernel;
  int rows, cols, channels, kernelRows, kernelCols;
  float firstWeight, secondWeight;
  int deringFactor, reduceNoise;
  bool useCpu;
};

// Pads source (rows x cols x channels planar) onto the canvas and restores
// it into output. clippedFrom, when given, is the picture whose clipped
// samples the solve takes as lower bounds (on the CPU). Progress runs from
// firstStage.
void RestorePicture(const Solve& s, const float* source, float* output, const float* clippedFrom,
                    const StageProgress& stages, double firstStage) {
  const int padRows = CanvasSide(s.rows, s.kernelRows), padCols = CanvasSide(s.cols, s.kernelCols);
  const size_t canvasPlane = GridSize(padRows, padCols);
  EngineLog("start padding image...\n");
  FloatArray canvas(canvasPlane * s.channels);
  canvas.zero();
  if (!PadImage(source, canvas.get(), s.kernel, s.cols, s.rows, s.channels, s.kernelCols, s.kernelRows,
                padCols, padRows, s.useCpu))
    throw std::bad_alloc();
  stages.Stage(firstStage);
  EngineLog("start deconvolution...\n");
  // The device solvers do not model clipping: such restores stay on the CPU.
  if (!clippedFrom && SolvesOnGpu(s.useCpu, s.channels, s.kernelRows, s.kernelCols)) {
    SolveColourOnGpu(canvas.get(), s.kernel, padRows, padCols, s.kernelRows, s.kernelCols, s.firstWeight,
                     s.secondWeight, s.deringFactor, s.reduceNoise);
    stages.Stage(firstStage + 50);
    const int top = CanvasOffset(padRows, s.rows), left = CanvasOffset(padCols, s.cols);
    for (int c = 0; c < s.channels; ++c)
      Crop(canvas.get() + canvasPlane * c, output + GridSize(s.rows, s.cols) * c, s.rows, s.cols, padCols,
           top, left);
  } else {
    SolvePlanesOnCpu(canvas.get(), output, s.kernel, s.rows, s.cols, s.channels, s.kernelRows, s.kernelCols,
                     s.firstWeight, s.secondWeight, s.deringFactor, s.reduceNoise, stages, firstStage,
                     clippedFrom);
  }
}

// A blur adds light: a lamp's streak is the kernel times the lamp only in
// linear light, and only with the clipped samples taken as lower bounds.
// The restore runs there and comes back to the picture's sRGB coding,
// unclipped.
void RestoreInLinearLight(const Solve& s, const float* input, float* output,
                          const StageProgress& stages) {
  EngineLog("clipped lamps: restoring in linear light\n");
  const size_t samples = GridSize(s.rows, s.cols) * s.channels;
  FloatArray lit(samples);
  std::copy_n(input, samples, lit.get());
  SrgbToLinear(lit.get(), samples);
  RestorePicture(s, lit.get(), output, input, stages, 40);
  LinearToSrgb(output, samples);
}

}  // namespace

int CanvasSide(int side, int kernelSide) { return ((side + 2 * kernelSide - 1) / 256 + 1) * 256; }

float FirstSolveWeight(float smoothness, int reduceNoise) {
  return reduceNoise >= 1 ? smoothness : static_cast<float>(static_cast<double>(smoothness) / 100.0);
}

float SecondSolveWeight(float smoothness, int deringFactor, int reduceNoise) {
  const double s = smoothness;
  return reduceNoise >= 1 ? static_cast<float>(deringFactor * s)
                          : static_cast<float>(s / 100.0 * deringFactor);
}

bool EngineSizesValid(int rows, int cols, int channels, int kernelRows, int kernelCols) {
  return rows >= 1 && cols >= 1 && (channels == 1 || channels == 3) && kernelRows >= 1 &&
         kernelCols >= 1 && kernelRows <= rows && kernelCols <= cols &&
         rows <= (1 << 28) - 2 * kernelRows && cols <= (1 << 28) - 2 * kernelCols;
}

bool SamplesFinite(const float* samples, size_t count) {
  bool finite = true;
  for (size_t i = 0; i < count; ++i) finite &= std::isfinite(samples[i]);  // no early exit: vectorises
  return finite;
}

int DeconvolveImage(const float* input, float* output, const float* kernel, int rows, int cols,
                    int channels, int kernelRows, int kernelCols, float smoothness,
                    int deringFactor, int reduceNoise, bool useCpu, ProgressCell* progress,
                    Highlights highlights) {
  if (!input || !output || !kernel || !EngineSizesValid(rows, cols, channels, kernelRows, kernelCols) ||
      !SamplesFinite(input, GridSize(rows, cols) * channels) || !SamplesFinite(kernel, GridSize(kernelRows, kernelCols)))
    return kEngineInvalidArgument;
  const StageProgress stages(progress);
  const Solve solve{kernel, rows, cols, channels, kernelRows, kernelCols,
                    FirstSolveWeight(smoothness, reduceNoise),
                    SecondSolveWeight(smoothness, deringFactor, reduceNoise), deringFactor, reduceNoise,
                    useCpu};
  if (ModelsHighlights(highlights, input, rows, cols, channels))
    RestoreInLinearLight(solve, input, output, stages);
  else
    RestorePicture(solve, input, output, nullptr, stages, 40);
  stages.Stage(100);
  return 0;
}

double DeconvolutionPeakFloats(int rows, int cols, int channels, int kernelRows, int kernelCols,
                               int reduceRinging, int reduceNoise) {
  const double n = static_cast<double>(rows) * cols;
  const double canvas =
      static_cast<double>(CanvasSide(rows, kernelRows)) * CanvasSide(cols, kernelCols);
  const double planes = channels * canvas;
  const double padding = planes + channels * (n + canvas) / 3.0 + 2.5 * canvas;
  double solve = planes + canvas + 2.0 * canvas + 3.0 * canvas;
  if (reduceRinging > 0) solve += 3.0 * canvas;
  if (reduceNoise > 0) solve += 3.3 * canvas;
  return std::max(padding, solve);
}

double ClippedModelPeakFloats(int rows, int cols, int channels, int kernelRows, int kernelCols) {
  const double n = static_cast<double>(rows) * cols;
  const double canvas =
      static_cast<double>(CanvasSide(rows, kernelRows)) * CanvasSide(cols, kernelCols);
  const double indices = n * sizeof(size_t) / sizeof(float);  // every sample of a plane, at most
  return 2.0 * n * channels + 2.0 * canvas + indices;
}

}  // namespace velmora
