#include "pipeline/job.h"

#include <opencv2/imgcodecs.hpp>

#include "estimation/sharp_estimator.h"
#include "pipeline/deconvolve.h"
#include "pipeline/engine_errors.h"
#include "pipeline/gpu_choice.h"
#include "pipeline/memory_budget.h"
#include "pipeline/plan_cache.h"
#include "src/gpu_check.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <new>
#include <vector>

namespace velmora {

namespace {

constexpr float kByteToUnit = 1.0f / 255.0f;  // 0.003921568859368563
constexpr double kWordToUnit = 1.0 / 65535.0;

double NowMilliseconds() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// Planar red, green, blue from a float BGR region of the picture.
std::vector<float> ToPlanar(const cv::Mat& bgr, const PixelRegion& r) {
  std::vector<float> planar(static_cast<size_t>(r.rows) * r.cols * 3);
  const size_t plane = static_cast<size_t>(r.rows) * r.cols;
  for (int i = 0; i < r.rows; ++i) {
    const cv::Vec3f* row = bgr.ptr<cv::Vec3f>(r.row0 + i) + r.col0;
    for (int j = 0; j < r.cols; ++j)
      for (int k = 0; k < 3; ++k) planar[plane * k + static_cast<size_t>(i) * r.cols + j] = row[j][2 - k];
  }
  return planar;
}

void FromPlanar(const std::vector<float>& planar, const PixelRegion& r, cv::Mat* bgr) {
  const size_t plane = static_cast<size_t>(r.rows) * r.cols;
  for (int i = 0; i < r.rows; ++i) {
    cv::Vec3f* row = bgr->ptr<cv::Vec3f>(r.row0 + i) + r.col0;
    for (int j = 0; j < r.cols; ++j)
      for (int k = 0; k < 3; ++k) row[j][2 - k] = planar[plane * k + static_cast<size_t>(i) * r.cols + j];
  }
}

// What the GPU path holds in host memory beyond the CPU path's arrays, per
// canvas pixel: the padding's four whole spectra, and the colour canvas, its
// four-channel copy, the result and the ringing solve's, plus staging.
size_t GpuHostBytes(int rows, int cols, int kernelRows, int kernelCols) {
  const size_t canvas =
      static_cast<size_t>(CanvasSide(rows, kernelRows)) * CanvasSide(cols, kernelCols);
  return canvas * (4 * 8 + 12 + 16 + 12 + 12 + 8);
}

}  // namespace

const char* EstimatorName(KernelEstimator estimator) {
  return estimator == KernelEstimator::kSharp ? "sharp" : "classic";
}

bool ParseEstimatorName(const std::string& name, KernelEstimator* estimator) {
  for (KernelEstimator e : {KernelEstimator::kClassic, KernelEstimator::kSharp})
    if (name == EstimatorName(e)) {
      *estimator = e;
      return true;
    }
  return false;
}

PixelRegion RegionInPixels(const DeblurRegion& region, int rows, int cols) {
  auto span = [](double start, double extent, int n, int* first, int* count) {
    const double lo = std::clamp(std::trunc(start * n), 0.0, n - 1.0);
    const double hi = std::clamp(std::trunc((start + extent) * n), lo, n - 1.0);
    *first = static_cast<int>(lo);
    *count = static_cast<int>(hi - lo) + 1;
  };
  PixelRegion r;
  if (rows < 1 || cols < 1 || !std::isfinite(region.x) || !std::isfinite(region.y) ||
      !std::isfinite(region.width) || !std::isfinite(region.height))
    return r;
  span(region.y, region.height, rows, &r.row0, &r.rows);
  span(region.x, region.width, cols, &r.col0, &r.cols);
  return r;
}

int MinimumRegionSide(int kernelSide) { return std::max(200, 3 * kernelSide); }

bool RegionAccepted(const DeblurRegion& region, int rows, int cols, int kernelHeight,
                    int kernelWidth) {
  const double h = std::trunc(rows * region.height);
  const double w = std::trunc(cols * region.width);
  return h >= MinimumRegionSide(kernelHeight) && w >= MinimumRegionSide(kernelWidth);
}

bool BlurFitsPicture(int rows, int cols, int kernelHeight, int kernelWidth) {
  return static_cast<long long>(rows) >= 3LL * kernelHeight && static_cast<long long>(cols) >= 3LL * kernelWidth;
}

int LargestBlurSide(int pictureSide) {
  int side = std::min(pictureSide / 3, 121);
  if (side % 2 == 0) --side;
  return side >= 3 ? side : 0;
}

std::string BlurTooLargeMessage(int rows, int cols, int kernelHeight, int kernelWidth) {
  return "The blur size " + std::to_string(kernelHeight) + " x " + std::to_string(kernelWidth) +
         " is too large for this " + std::to_string(cols) + " x " + std::to_string(rows) +
         " picture: each side must be at least three blur sizes. The largest blur size it allows is " +
         std::to_string(LargestBlurSide(rows)) + " x " + std::to_string(LargestBlurSide(cols)) + ".";
}

bool WriteKernelPicture(const cv::Mat& kernel, const std::string& path) {
  if (kernel.empty() || path.empty()) return false;
  double kmax = 0.0;
  cv::minMaxLoc(kernel, nullptr, &kmax);
  cv::Mat picture(kernel.size(), CV_8U, cv::Scalar(0));
  if (kmax > 0.0 && std::isfinite(kmax)) {
    const float top = static_cast<float>(kmax);
    for (int i = 0; i < kernel.rows; ++i)
      for (int j = 0; j < kernel.cols; ++j)
        picture.at<uchar>(i, j) = cv::saturate_cast<uchar>(kernel.at<float>(i, j) / top * 255.0f);
  }
  try {
    return cv::imwrite(path, picture);
  } catch (const cv::Exception&) {
    return false;
  }
}

DeblurJob::DeblurJob(const DeblurSettings& s, ProgressCell* cell) : settings(s), progress(cell) {}

void DeblurJob::Run() {
  status = kJobNoMode;
  memoryShortfall.clear();
  processorNotice.clear();
  const JobContextScope scope(&context);
  try {
    Checkpoint();
    if (mode == kModeComplete) {
      RunEstimation(false);
    } else if (mode == kModePartial) {
      RunEstimation(true);
    } else if (mode == kModeRemaining) {
      RunRemaining();
    }
  } catch (const std::bad_alloc&) {
    status = kJobOutOfMemory;
  } catch (const cv::Exception& e) {
    status = EngineResultFor(e);
  } catch (const gpu::GpuFault& fault) {
    status = kJobGpuFailed;
    processorNotice = fault.what();
  } catch (const JobCancelled&) {
    status = kJobCancelled;
  }
  if (status == kJobCancelled) {
    result = cv::Mat();
    // The user wants it to stop: no measuring now, but what the job
    // measured is kept.
    SaveTransformWisdom();
    return;
  }
  // Plans this run had to estimate are measured now, while the result is
  // already there, so that the next run of this size is faster.
  // Not after a job memory stopped: measuring needs memory of its own.
  if (status != kJobNoMode && status != kJobOutOfMemory) MeasurePendingTransforms(PostJobPlanningSeconds(seconds));
}

bool DeblurJob::MemoryFits(int rows, int cols, bool blind, bool useCpu) {
  // The job's own pictures: the float input, the planar input and output,
  // the float and 8-bit results; then the engine's peak.
  const size_t whole = static_cast<size_t>(input.rows) * input.cols * 3;
  const size_t region = static_cast<size_t>(rows) * cols * 3;
  const size_t own = (2 * whole + 2 * region) * sizeof(float) + whole;
  const bool sharp = blind && options.estimator == KernelEstimator::kSharp;
  const size_t engine =
      sharp ? SharpEngineMemoryBytes(rows, cols, 3, settings.kernelHeight, settings.kernelWidth,
                                     settings.reduceRinging, settings.reduceNoise)
            : EngineMemoryBytes(rows, cols, 3, settings.kernelHeight, settings.kernelWidth, blind,
                                settings.reduceRinging, settings.reduceNoise);
  const size_t highlights =
      options.highlights == Highlights::kModel
          ? HighlightsMemoryBytes(rows, cols, 3, settings.kernelHeight, settings.kernelWidth)
          : 0;
  const size_t needed = own + engine + highlights +
                        (useCpu ? 0 : GpuHostBytes(rows, cols, settings.kernelHeight, settings.kernelWidth));
  const std::optional<size_t> available = AvailableMemoryBytes();
  if (!available || needed <= *available) return true;
  memoryShortfall = MemoryShortfall(needed, *available);
  return false;
}

bool DeblurJob::RunsOnCpu(int rows, int cols, int kernelRows, int kernelCols) {
  if (settings.useCpu) return true;
  return !GpuTakesJob(rows, cols, kernelRows, kernelCols, &processorNotice);
}

void DeblurJob::NoteEngineResult(int engine) {
  if (engine == kEngineGpuFailed) processorNotice = gpu::GpuDisabledReason();
}

void DeblurJob::UseKnownKernel(const cv::Mat& knownKernel) {
  ConvertInput();
  knownKernel.convertTo(kernel, CV_32F);
  settings.kernelHeight = kernel.rows;
  settings.kernelWidth = kernel.cols;
}

// 8-bit pictures take exactly the path they always took; deeper ones keep
// their precision on the way in and come back at 16 bits.
void DeblurJob::ConvertInput() {
  if (converted_ && input.depth() == CV_32F) return;
  converted_ = true;
  resultDepth_ = input.depth() == CV_8U ? CV_8U : CV_16U;
  if (input.depth() == CV_32F) return;  // float pictures are on the 0-1 scale already
  if (input.depth() == CV_8U)
    input.convertTo(input, CV_32F, kByteToUnit, 0.0);
  else
    input.convertTo(input, CV_32F, input.depth() == CV_16U ? kWordToUnit : 1.0, 0.0);
}

void DeblurJob::RunEstimation(bool partial) {
  if (input.empty() || input.channels() != 3) {
    status = kJobInvalidInput;
    return;
  }
  PixelRegion r{0, 0, input.rows, input.cols};
  if (partial) {
    // Below this size the kernel no longer fits the region's pyramid.
    r = RegionInPixels(region, input.rows, input.cols);
    if (!RegionAccepted(region, input.rows, input.cols, settings.kernelHeight,
                        settings.kernelWidth) ||
        r.rows < MinimumRegionSide(settings.kernelHeight) ||
        r.cols < MinimumRegionSide(settings.kernelWidth)) {
      status = kJobInvalidInput;
      result = cv::Mat();
      return;
    }
  }
  const bool useCpu = RunsOnCpu(r.rows, r.cols, settings.kernelHeight, settings.kernelWidth);
  if (!MemoryFits(r.rows, r.cols, true, useCpu)) {
    status = kJobOutOfMemory;
    result = cv::Mat();
    return;
  }
  ConvertInput();
  const std::vector<float> planarIn = ToPlanar(input, r);
  std::vector<float> planarOut(planarIn.size());
  // The estimate goes to its own buffer: `kernel` keeps the last usable one
  // until this run has produced a better one. A size search writes its
  // kernel at the found size from the buffer's start.
  cv::Mat estimate(settings.kernelHeight, settings.kernelWidth, CV_32F, cv::Scalar(0));
  foundKernelHeight = foundKernelWidth = 0;
  KernelSize found{settings.kernelHeight, settings.kernelWidth};
  const double t0 = NowMilliseconds();
  int engine = kJobEstimationFailed;
  if (options.estimator == KernelEstimator::kSharp) {
    engine = DeblurSharp(planarIn.data(), planarOut.data(), r.rows, r.cols, 3, estimate.ptr<float>(),
                         settings.kernelHeight, settings.kernelWidth, settings.gamma,
                         settings.smoothness, settings.reduceRinging, settings.reduceNoise, useCpu,
                         progress, options.sharpParams, options.findBlurSize ? &found : nullptr,
                         options.highlights);
  } else if (options.findBlurSize) {
    engine = DeblurClassicFindingSize(planarIn.data(), planarOut.data(), r.rows, r.cols, 3,
                                      estimate.ptr<float>(), settings.kernelHeight,
                                      settings.kernelWidth, settings.gamma, settings.tscale,
                                      settings.smoothness, settings.reduceRinging,
                                      settings.reduceNoise, useCpu, progress, options.sharpParams,
                                      &found, options.highlights);
  } else {
    engine = DeblurImage(planarIn.data(), planarOut.data(), r.rows, r.cols, 3, estimate.ptr<float>(),
                         settings.kernelHeight, settings.kernelWidth, settings.gamma, settings.tscale,
                         settings.smoothness, settings.reduceRinging, settings.reduceNoise, useCpu,
                         progress, options.highlights);
  }
  if (options.findBlurSize) {
    if (found.rows > 0 && (engine == kJobSucceeded || engine == kJobEstimationFailed)) {
      foundKernelHeight = found.rows;
      foundKernelWidth = found.cols;
      estimate = cv::Mat(found.rows, found.cols, CV_32F, estimate.ptr<float>()).clone();
    } else {
      estimate = cv::Mat();
    }
  }
  const double t1 = NowMilliseconds();
  if (engine == kEngineCancelled) throw JobCancelled();
  NoteEngineResult(engine);
  cv::Mat floatResult = input.clone();
  if (engine == 1) FromPlanar(planarOut, r, &floatResult);
  status = engine;
  if (engine == 1) kernel = estimate;
  // A refused call estimated nothing: keep any earlier kernel picture. A
  // failed estimation still leaves a record of what it reached.
  if (engine != kEngineInvalidArgument && !estimate.empty()) WriteKernelPicture(estimate, kernelPath);
  Finish(floatResult, false);
  seconds = static_cast<float>((t1 - t0) / 1000.0);
}

void DeblurJob::RunRemaining() {
  if (input.empty() || input.channels() != 3 || input.depth() != CV_32F || kernel.empty() ||
      cv::countNonZero(kernel) == 0) {
    status = kJobInvalidInput;
    return;
  }
  const PixelRegion whole{0, 0, input.rows, input.cols};
  const bool useCpu = RunsOnCpu(input.rows, input.cols, kernel.rows, kernel.cols);
  if (!MemoryFits(input.rows, input.cols, false, useCpu)) {
    status = kJobOutOfMemory;
    result = cv::Mat();
    return;
  }
  const std::vector<float> planarIn = ToPlanar(input, whole);
  std::vector<float> planarOut(planarIn.size());
  const double t0 = NowMilliseconds();
  const int engine = DeblurWithKernel(planarIn.data(), planarOut.data(), kernel.ptr<float>(),
                                      input.rows, input.cols, 3, kernel.rows, kernel.cols,
                                      settings.smoothness, settings.reduceRinging,
                                      settings.reduceNoise, useCpu, progress, options.highlights);
  const double t1 = NowMilliseconds();
  if (engine == kEngineCancelled) throw JobCancelled();
  NoteEngineResult(engine);
  cv::Mat floatResult = input.clone();
  if (engine == 0) FromPlanar(planarOut, whole, &floatResult);
  status = engine == 0 ? kJobSucceeded : engine;
  Finish(floatResult, true);
  seconds = static_cast<float>((t1 - t0) / 1000.0);
}

void DeblurJob::Finish(const cv::Mat& floatResult, bool writeKernel) {
  if (writeKernel) WriteKernelPicture(kernel, kernelPath);  // a failed write is not the job's failure
  if (resultDepth_ == CV_8U)
    floatResult.convertTo(result, CV_8U, 255.0, 0.0);
  else
    floatResult.convertTo(result, CV_16U, 65535.0, 0.0);
}

}  // namespace velmora
