// The engine's one entry: a request on a picture, composed of the steps
// below the engine (the estimators, the restore), with the processor and
// the memory checked once at the start and every failure answered as a
// result.
#include <opencv2/core.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <vector>

#include "engine/engine_guard.h"
#include "engine/entries.h"
#include "engine/gpu_choice.h"
#include "engine/memory_budget.h"
#include "engine/run_request.h"
#include "pipeline/engine.h"
#include "pipeline/numerics.h"

namespace velmora {

namespace {

constexpr float kByteToUnit = 1.0f / 255.0f;  // 0.003921568859368563
constexpr double kWordToUnit = 1.0 / 65535.0;

double NowMilliseconds() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// The picture on the 0-1 scale. 8-bit pictures take exactly the path they
// always took; deeper ones keep their precision.
cv::Mat ToUnitScale(const cv::Mat& picture) {
  if (picture.depth() == CV_32F) return picture;  // float pictures are on the 0-1 scale already
  cv::Mat unit;
  if (picture.depth() == CV_8U)
    picture.convertTo(unit, CV_32F, kByteToUnit, 0.0);
  else
    picture.convertTo(unit, CV_32F, kWordToUnit, 0.0);
  return unit;
}

// Planar red, green, blue (or grey) from a float BGR (or grey) region.
std::vector<float> ToPlanar(const cv::Mat& picture, const PixelRegion& r) {
  const int channels = picture.channels();
  std::vector<float> planar(static_cast<size_t>(r.rows) * r.cols * channels);
  const size_t plane = static_cast<size_t>(r.rows) * r.cols;
  for (int i = 0; i < r.rows; ++i) {
    const float* row = picture.ptr<float>(r.row0 + i) + static_cast<size_t>(r.col0) * channels;
    for (int j = 0; j < r.cols; ++j)
      for (int k = 0; k < channels; ++k)
        planar[plane * k + static_cast<size_t>(i) * r.cols + j] = row[j * channels + channels - 1 - k];
  }
  return planar;
}

void FromPlanar(const std::vector<float>& planar, const PixelRegion& r, cv::Mat* picture) {
  const int channels = picture->channels();
  const size_t plane = static_cast<size_t>(r.rows) * r.cols;
  for (int i = 0; i < r.rows; ++i) {
    float* row = picture->ptr<float>(r.row0 + i) + static_cast<size_t>(r.col0) * channels;
    for (int j = 0; j < r.cols; ++j)
      for (int k = 0; k < channels; ++k)
        row[j * channels + channels - 1 - k] = planar[plane * k + static_cast<size_t>(i) * r.cols + j];
  }
}

bool PictureUsable(const cv::Mat& picture) {
  const int depth = picture.depth();
  return !picture.empty() && picture.dims == 2 && (picture.channels() == 1 || picture.channels() == 3) &&
         (depth == CV_8U || depth == CV_16U || depth == CV_32F);
}

// One run of the engine on rows x cols of the picture, and what it needs.
struct Run {
  const DeblurRequest& request;
  const cv::Mat& unit;  // the whole picture, 0-1 scale
  PixelRegion region;
  ProgressCell* progress;
  const EngineTuning& tuning;
  bool useCpu = true;
};

// The blind run on run.region: the engine's result, the estimate in
// *estimate (at the found size with a search) and the restored planes.
int EstimateAndRestore(const Run& run, std::vector<float>* planes, cv::Mat* estimate,
                       KernelSize* found) {
  const DeblurRequest& q = run.request;
  const PixelRegion& r = run.region;
  const int channels = run.unit.channels();
  const std::vector<float> in = ToPlanar(run.unit, r);
  planes->resize(in.size());
  // A size search writes its kernel at the found size from the buffer's start.
  *estimate = cv::Mat(q.blurHeight, q.blurWidth, CV_32F, cv::Scalar(0));
  const int ringing = q.reduceRinging ? 1 : 0, noise = q.reduceNoise ? 1 : 0;
  int engine = 0;
  if (q.estimator == KernelEstimator::kSharp)
    engine = DeblurSharp(in.data(), planes->data(), r.rows, r.cols, channels, estimate->ptr<float>(),
                         q.blurHeight, q.blurWidth, q.gamma, q.smoothness, ringing, noise, run.useCpu,
                         run.progress, run.tuning.sharpParams, q.findBlurSize ? found : nullptr,
                         q.highlights);
  else if (q.findBlurSize)
    engine = DeblurClassicFindingSize(in.data(), planes->data(), r.rows, r.cols, channels,
                                      estimate->ptr<float>(), q.blurHeight, q.blurWidth, q.gamma,
                                      q.tscale, q.smoothness, ringing, noise, run.useCpu,
                                      run.progress, run.tuning.sharpParams, found, q.highlights);
  else
    engine = DeblurImage(in.data(), planes->data(), r.rows, r.cols, channels, estimate->ptr<float>(),
                         q.blurHeight, q.blurWidth, q.gamma, q.tscale, q.smoothness, ringing, noise,
                         run.useCpu, run.progress, q.highlights);
  if (q.findBlurSize) {
    const bool sized = found->rows > 0 && (engine == 1 || engine == 0);
    *estimate = sized ? cv::Mat(found->rows, found->cols, CV_32F, estimate->ptr<float>()).clone() : cv::Mat();
    if (!sized) *found = {};
  }
  return engine;
}

int RestoreWhole(const Run& run, const cv::Mat& kernel, std::vector<float>* planes) {
  const DeblurRequest& q = run.request;
  const std::vector<float> in = ToPlanar(run.unit, run.region);
  planes->resize(in.size());
  return RestoreKnownKernel(in.data(), planes->data(), kernel.ptr<float>(), run.region.rows,
                            run.region.cols, run.unit.channels(), kernel.rows, kernel.cols,
                            q.smoothness, q.reduceRinging ? 1 : 0, q.reduceNoise ? 1 : 0,
                            run.useCpu, run.progress, q.highlights);
}

// The picture at the depth it came in at: 8-bit stays 8-bit, deeper ones
// come back at 16 bits.
cv::Mat Stored(const cv::Mat& unit, int inputDepth) {
  cv::Mat stored;
  if (inputDepth == CV_8U)
    unit.convertTo(stored, CV_8U, 255.0, 0.0);
  else
    unit.convertTo(stored, CV_16U, 65535.0, 0.0);
  return stored;
}

// The processor of a run of rows x cols, with the notice when it differs
// from the one asked.
bool RunsOnCpu(const DeblurRequest& q, int rows, int cols, int kernelRows, int kernelCols,
               DeblurOutcome* outcome) {
  if (q.processor == Processor::kCpu) return true;
  std::string notice;
  const bool gpu = GpuTakesJob(rows, cols, kernelRows, kernelCols, &notice);
  if (!notice.empty()) outcome->notices.push_back(notice);
  return !gpu;
}

bool MemoryFits(const Run& run, int kernelRows, int kernelCols, bool blind, DeblurOutcome* outcome) {
  const DeblurRequest& q = run.request;
  const size_t needed = JobMemoryBytes(
      run.unit.rows, run.unit.cols, run.region.rows, run.region.cols, run.unit.channels(), kernelRows,
      kernelCols, blind, q.estimator == KernelEstimator::kSharp, q.highlights == Highlights::kModel,
      run.useCpu, q.reduceRinging ? 1 : 0, q.reduceNoise ? 1 : 0);
  const std::optional<size_t> available = AvailableMemoryBytes();
  if (!available || needed <= *available) return true;
  outcome->memoryShortfall = MemoryShortfall(needed, *available);
  return false;
}

// The engine's answer for the run, and the GPU's line when it failed.
void Conclude(int engine, bool knownKernel, DeblurOutcome* outcome) {
  outcome->result = ResultOfEngine(engine, knownKernel);
  if (engine == kEngineGpuFailed) outcome->notices.push_back(gpu::GpuDisabledReason());
}

void RunBlind(Run& run, int inputDepth, DeblurOutcome* outcome) {
  const DeblurRequest& q = run.request;
  run.useCpu = RunsOnCpu(q, run.region.rows, run.region.cols, q.blurHeight, q.blurWidth, outcome);
  if (!MemoryFits(run, q.blurHeight, q.blurWidth, true, outcome)) {
    outcome->result = DeblurResult::kOutOfMemory;
    return;
  }
  std::vector<float> planes;
  cv::Mat estimate;
  KernelSize found;
  const double t0 = NowMilliseconds();
  const int engine = EstimateAndRestore(run, &planes, &estimate, &found);
  outcome->seconds = (NowMilliseconds() - t0) / 1000.0;
  if (engine == kEngineCancelled) throw JobCancelled();
  Conclude(engine, false, outcome);
  outcome->foundHeight = found.rows;
  outcome->foundWidth = found.cols;
  // A refused call estimated nothing; a failed estimation still gives
  // what it reached.
  if (engine != kEngineInvalidArgument) outcome->kernel = estimate;
  cv::Mat restored = run.unit.clone();
  if (engine == 1) FromPlanar(planes, run.region, &restored);
  outcome->picture = Stored(restored, inputDepth);
}

void RunKnown(Run& run, const cv::Mat& kernel, int inputDepth, DeblurOutcome* outcome) {
  run.region = {0, 0, run.unit.rows, run.unit.cols};
  run.useCpu = RunsOnCpu(run.request, run.unit.rows, run.unit.cols, kernel.rows, kernel.cols, outcome);
  if (!MemoryFits(run, kernel.rows, kernel.cols, false, outcome)) {
    outcome->result = DeblurResult::kOutOfMemory;
    return;
  }
  std::vector<float> planes;
  const double t0 = NowMilliseconds();
  const int engine = RestoreWhole(run, kernel, &planes);
  outcome->seconds += (NowMilliseconds() - t0) / 1000.0;
  if (engine == kEngineCancelled) throw JobCancelled();
  Conclude(engine, true, outcome);
  outcome->kernel = kernel;
  cv::Mat restored = run.unit.clone();
  if (engine == 0) FromPlanar(planes, run.region, &restored);
  outcome->picture = Stored(restored, inputDepth);
}

// The request's own checks: what no engine call needs to see.
bool RequestUsable(const DeblurRequest& q, const cv::Mat& picture, cv::Mat* knownKernel) {
  if (!PictureUsable(picture)) return false;
  if (q.mode == DeblurMode::kKnownKernel) {
    if (q.knownKernel.empty() || q.knownKernel.channels() != 1) return false;
    q.knownKernel.convertTo(*knownKernel, CV_32F);
    return cv::countNonZero(*knownKernel) > 0;
  }
  if (q.mode == DeblurMode::kWhole) return true;
  // Below this size the kernel no longer fits the region's pyramid.
  const PixelRegion r = RegionInPixels(q.region, picture.rows, picture.cols);
  return RegionAccepted(q.region, picture.rows, picture.cols, q.blurHeight, q.blurWidth) &&
         r.rows >= MinimumRegionSide(q.blurHeight) && r.cols >= MinimumRegionSide(q.blurWidth);
}

void RunModes(const DeblurRequest& q, const cv::Mat& picture, ProgressCell* progress,
              const EngineTuning& tuning, DeblurOutcome* outcome) {
  cv::Mat known;
  if (!RequestUsable(q, picture, &known)) return;  // kInvalidInput
  const cv::Mat unit = ToUnitScale(picture);
  Run run{q, unit, {0, 0, unit.rows, unit.cols}, progress, tuning};
  if (q.mode == DeblurMode::kKnownKernel) {
    RunKnown(run, known, picture.depth(), outcome);
    return;
  }
  if (q.mode != DeblurMode::kWhole) run.region = RegionInPixels(q.region, unit.rows, unit.cols);
  RunBlind(run, picture.depth(), outcome);
  if (q.mode != DeblurMode::kRegionThenWhole || outcome->result != DeblurResult::kSucceeded) return;
  const cv::Mat kernel = outcome->kernel;
  RunKnown(run, kernel, picture.depth(), outcome);
}

}  // namespace

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

bool RegionAccepted(const DeblurRegion& region, int rows, int cols, int kernelHeight,
                    int kernelWidth) {
  const double h = std::trunc(rows * region.height);
  const double w = std::trunc(cols * region.width);
  return h >= MinimumRegionSide(kernelHeight) && w >= MinimumRegionSide(kernelWidth);
}

DeblurResult ResultOfEngine(int engineResult, bool knownKernel) {
  if (knownKernel ? engineResult == 0 : engineResult == 1) return DeblurResult::kSucceeded;
  switch (engineResult) {
    case 0: return DeblurResult::kEstimationFailed;
    case kEngineOutOfMemory: return DeblurResult::kOutOfMemory;
    case kEngineGpuFailed: return DeblurResult::kGpuFailed;
    case kEngineCancelled: return DeblurResult::kCancelled;
    case kEngineInternalError: return DeblurResult::kInternalError;
    default: return DeblurResult::kInvalidInput;
  }
}

DeblurOutcome RunRequest(const DeblurRequest& request, const cv::Mat& picture,
                         JobContext* context, ProgressCell* progress, const EngineTuning& tuning) {
  DeblurOutcome outcome;
  const JobContextScope scope(context);
  const int failure = Guarded([&] {
    Checkpoint();
    RunModes(request, picture, progress, tuning, &outcome);
    return 0;
  });
  if (failure != 0) {
    outcome.result = ResultOfEngine(failure, false);
    outcome.picture = cv::Mat();
  }
  return outcome;
}

DeblurOutcome Deblur(const DeblurRequest& request, const cv::Mat& picture, DeblurControl* control) {
  // The engine keeps one job's context and planning allowance for the
  // process: calls from several threads take turns.
  static std::mutex turn;
  const std::lock_guard<std::mutex> mine(turn);
  JobContext context;
  context.log = [control](const char* line) {
    if (control && control->log) control->log(line);
  };
  if (control) context.alsoCancel = &control->cancel;
  return RunRequest(request, picture, &context, control ? &control->progress : nullptr);
}

float DeblurControl::Progress() const { return ReadProgress(const_cast<float*>(&progress)); }

int MaxBlurSide(int pictureSide) {
  int side = std::min(pictureSide / 3, 121);
  if (side % 2 == 0) --side;
  return side >= 3 ? side : 0;
}

int MinimumRegionSide(int blurSide) { return std::max(200, 3 * blurSide); }

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

}  // namespace velmora
