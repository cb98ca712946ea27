#include "pipeline/deconvolve.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

#include "pipeline/engine_errors.h"
#include "pipeline/pad_image.h"
#include "pipeline/parallel.h"
#include "pipeline/pyramid.h"
#include "pipeline/progress.h"
#include "pipeline/spectral.h"
#include "pipeline/tv_deconv.h"

namespace velmora {

namespace {

// Scratch memory of one plane's solve (spectra, work planes, result planes),
// per canvas sample, rounded up.
constexpr size_t kSolverBytesPerSample = 96;

// Maps stage percentages onto the range [start, 99] found on entry.
class StageProgress {
 public:
  explicit StageProgress(ProgressCell* cell) : cell_(cell), start_(ReadProgress(cell)) {}
  void Stage(double percent) const {
    if (cell_) WriteProgress(cell_, Value(percent));
  }
  // For stages reached by concurrent planes, in whatever order they come.
  void StageAtLeast(double percent) const {
    if (cell_) RaiseProgress(cell_, Value(percent));
  }

 private:
  float Value(double percent) const {
    return static_cast<float>(start_ + percent / 100.0 * (99.0 - start_));
  }

  ProgressCell* cell_;
  double start_;
};

bool Solve(const float* canvas, float* result, const float* kernel, int padRows, int padCols,
           int kernelRows, int kernelCols, float weight, int reduceNoise) {
  return reduceNoise >= 1
             ? FastDeconvTVL1(canvas, result, kernel, padRows, padCols, kernelRows, kernelCols, weight)
             : FastDeconvTVL2(canvas, result, kernel, padRows, padCols, kernelRows, kernelCols, weight);
}

// A failed solve with odd kernel sides can only mean that memory ran out.
// A refused even kernel is reported on the console for the first solve only;
// the ringing solve's flag is not examined.
void CheckSolve(bool solved, int kernelRows, int kernelCols, bool report) {
  if (solved) return;
  if (kernelRows % 2 == 1 && kernelCols % 2 == 1) throw std::bad_alloc();
  if (!report) return;
  std::printf("error in running deblur.\n");
  std::fflush(stdout);
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

int DeconvolveImage(const float* input, float* output, const float* kernel, int rows, int cols,
                    int channels, int kernelRows, int kernelCols, float smoothness,
                    int deringFactor, int reduceNoise, bool useCpu, ProgressCell* progress) {
  if (!input || !output || !kernel || !EngineSizesValid(rows, cols, channels, kernelRows, kernelCols))
    return kEngineInvalidArgument;
  const StageProgress stages(progress);
  const int padRows = CanvasSide(rows, kernelRows);
  const int padCols = CanvasSide(cols, kernelCols);
  const int top = CanvasOffset(padRows, rows);
  const int left = CanvasOffset(padCols, cols);
  const size_t canvasPlane = GridSize(padRows, padCols);
  try {
    std::printf("start padding image...\n");
    std::fflush(stdout);
    FloatArray canvas(canvasPlane * channels);
    canvas.zero();
    if (!PadImage(input, canvas.get(), kernel, cols, rows, channels, kernelCols, kernelRows,
                  padCols, padRows, useCpu))
      return kEngineOutOfMemory;
    stages.Stage(40);
    std::printf("start deconvolution...\n");
    std::fflush(stdout);
    // The GPU solvers plug in here; until then both modes solve on the CPU.
    const float firstWeight = FirstSolveWeight(smoothness, reduceNoise);
    const float secondWeight = SecondSolveWeight(smoothness, deringFactor, reduceNoise);
    // Planes are independent: each task owns its result planes.
    ForEachPlane(channels, canvasPlane * kSolverBytesPerSample, [&](int c) {
      stages.StageAtLeast(40.0 + static_cast<double>(c) / channels);
      const float* plane = canvas.get() + canvasPlane * c;
      FloatArray result(canvasPlane);
      CheckSolve(Solve(plane, result.get(), kernel, padRows, padCols, kernelRows, kernelCols,
                       firstWeight, reduceNoise),
                 kernelRows, kernelCols, true);
      if (deringFactor > 1) {
        FloatArray second(canvasPlane);
        CheckSolve(Solve(plane, second.get(), kernel, padRows, padCols, kernelRows, kernelCols,
                         secondWeight, reduceNoise),
                   kernelRows, kernelCols, false);
        ReduceRinging(result.get(), second.get(), padRows, padCols);
      }
      Crop(result.get(), output + GridSize(rows, cols) * c, rows, cols, padCols, top, left);
    });
  } catch (const std::bad_alloc&) {
    return kEngineOutOfMemory;
  } catch (const cv::Exception& e) {
    return EngineResultFor(e);
  }
  stages.Stage(100);
  return 0;
}

}  // namespace velmora

int DeblurWithKernel(const float* input, float* output, const float* kernel, int rows, int cols,
                     int channels, int kernelHeight, int kernelWidth, float smoothness,
                     int reduceRinging, int reduceNoise, bool useCpu, ProgressCell* progress) {
  if (!kernel || kernelHeight < 1 || kernelWidth < 1) return kEngineInvalidArgument;
  // A kernel without positive finite mass has no zero-frequency response:
  // the solve would divide 0 by 0 and return a black picture.
  double sum = 0.0;
  for (size_t i = 0; i < velmora::GridSize(kernelHeight, kernelWidth); ++i) sum += kernel[i];
  if (!(sum > 0.0) || !std::isfinite(sum)) return kEngineInvalidArgument;
  return velmora::DeconvolveImage(input, output, kernel, rows, cols, channels, kernelHeight,
                                  kernelWidth, smoothness, 10 * reduceRinging, reduceNoise, useCpu,
                                  progress);
}
