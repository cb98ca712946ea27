#include "frontend/job.h"

#include <opencv2/imgcodecs.hpp>

#include <cmath>

#include "pipeline/numerics.h"

namespace velmora {

DeblurRequest RequestFor(const DeblurSettings& settings, const JobOptions& options,
                         const std::string& mode, const DeblurRegion& region,
                         const cv::Mat& knownKernel) {
  DeblurRequest q;
  q.mode = mode == kModeRemaining ? DeblurMode::kKnownKernel
           : mode == kModePartial ? DeblurMode::kRegion
                                  : DeblurMode::kWhole;
  q.estimator = options.estimator;
  q.processor = settings.useCpu ? Processor::kCpu : Processor::kGpu;
  q.blurHeight = settings.kernelHeight;
  q.blurWidth = settings.kernelWidth;
  q.findBlurSize = options.findBlurSize;
  q.gamma = settings.gamma;
  q.tscale = settings.tscale;
  q.smoothness = settings.smoothness;
  q.reduceRinging = settings.reduceRinging != 0;
  q.reduceNoise = settings.reduceNoise != 0;
  q.highlights = options.highlights;
  q.region = region;
  q.knownKernel = knownKernel;
  return q;
}

int JobStatusOf(DeblurResult result) {
  switch (result) {
    case DeblurResult::kSucceeded: return kJobSucceeded;
    case DeblurResult::kEstimationFailed: return kJobEstimationFailed;
    case DeblurResult::kOutOfMemory: return kJobOutOfMemory;
    case DeblurResult::kInternalError: return kJobInternalError;
    case DeblurResult::kGpuFailed: return kJobGpuFailed;
    case DeblurResult::kCancelled: return kJobCancelled;
    case DeblurResult::kInvalidInput: break;
  }
  return kJobInvalidInput;
}

void TransformsAfterJob(DeblurResult result, double jobSeconds) {
  if (result == DeblurResult::kCancelled)
    SaveTransformWisdom();
  else if (result != DeblurResult::kOutOfMemory)
    MeasurePendingTransforms(PostJobPlanningSeconds(jobSeconds));
}

DeblurJob::DeblurJob(const DeblurSettings& s, ProgressCell* cell) : settings(s), progress(cell) {}

void DeblurJob::UseKnownKernel(const cv::Mat& knownKernel) {
  knownKernel.convertTo(kernel, CV_32F);
  settings.kernelHeight = kernel.rows;
  settings.kernelWidth = kernel.cols;
}

void DeblurJob::Run() {
  status = kJobRunning;
  memoryShortfall.clear();
  processorNotice.clear();
  const bool known = mode == kModeRemaining;
  if (mode != kModeComplete && mode != kModePartial && !known) {
    status = kJobNoMode;
    return;
  }
  // A known-kernel run needs the kernel an earlier run left (or the
  // caller's); with none the engine refuses it.
  const DeblurRequest request = RequestFor(settings, options, mode, region, known ? kernel : cv::Mat());
  EngineTuning tuning;
  tuning.sharpParams = options.sharpParams;
  const DeblurOutcome outcome = RunRequest(request, input, &context, progress, tuning);
  Take(outcome, !known);
  TransformsAfterJob(outcome.result, seconds);
}

void DeblurJob::Take(const DeblurOutcome& outcome, bool blind) {
  status = JobStatusOf(outcome.result);
  memoryShortfall = outcome.memoryShortfall;
  processorNotice = outcome.notices.empty() ? std::string() : outcome.notices.back();
  // A refused run leaves the last result and kernel picture as they were.
  if (status == kJobInvalidInput && outcome.picture.empty() && outcome.kernel.empty()) {
    if (blind) result = cv::Mat();
    return;
  }
  result = outcome.picture;
  seconds = static_cast<float>(outcome.seconds);
  if (blind) {
    foundKernelHeight = outcome.foundHeight;
    foundKernelWidth = outcome.foundWidth;
    if (status == kJobSucceeded) kernel = outcome.kernel;
  }
  // A failed estimation still leaves a record of what it reached; a
  // stopped job leaves none (a failed write is not the job's failure).
  if (status != kJobCancelled && !outcome.kernel.empty()) WriteKernelPicture(outcome.kernel, kernelPath);
}

}  // namespace velmora
