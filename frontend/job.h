// One deblurring job as the application's worker thread runs it: its
// settings, run mode and region make one request to the engine (Deblur);
// the job keeps the picture and the last usable kernel between runs, writes
// the kernel picture, and measures the transforms the run planned in haste.
// No Qt here: the desktop worker thread wraps a DeblurJob and calls Run()
// from its thread body.
#pragma once

#include <opencv2/core.hpp>

#include <string>

#include "engine/run_request.h"
#include "estimation/estimators.h"
#include "frontend/job_rules.h"
#include "io/kernel_file.h"
#include "pipeline/engine.h"
#include "pipeline/numerics.h"
#include "velmora/deblur.h"

namespace velmora {

// The run modes.
inline constexpr const char* kModeComplete = "complete";
inline constexpr const char* kModePartial = "partial";
inline constexpr const char* kModeRemaining = "remaining";

// What a job is asked beyond the settings record.
struct JobOptions {
  KernelEstimator estimator = KernelEstimator::kClassic;
  // The sharp estimator's parameters: its defaults, changed only by the
  // benchmarks that tune them.
  SharpEstimatorParams sharpParams;
  // Find the blur size instead of taking it: the settings' kernel height
  // and width are then the largest size the search may find (see
  // LargestBlurSide for the largest a picture allows). The sharp estimator
  // finds it as it estimates; the classic one works at the size the sharp
  // one's coarse levels find.
  bool findBlurSize = false;
  // Clipped highlights (lamps at night): kModel takes clipped samples as
  // lower bounds in the restore and leaves them out of the estimation. A
  // picture without clipped samples is restored the same either way.
  Highlights highlights = Highlights::kKeep;
};


// Job status values.
enum JobStatus : int {
  kJobSucceeded = 1,
  kJobEstimationFailed = 0,   // "Insufficient information..."
  kJobNoMode = -1,            // no run mode was set
  kJobRunning = -7,           // while the job runs
  kJobOutOfMemory = kEngineOutOfMemory,
  kJobInvalidInput = kEngineInvalidArgument,  // unusable picture, kernel or region
  kJobInternalError = kEngineInternalError,
  kJobGpuFailed = kEngineGpuFailed,  // the next job runs on the CPU
  kJobCancelled = kEngineCancelled,  // stopped on request: no result, no kernel picture
};

// The request a job of these settings, options and mode makes: the
// region's for "partial", the kernel's for "remaining".
DeblurRequest RequestFor(const DeblurSettings& settings, const JobOptions& options,
                         const std::string& mode, const DeblurRegion& region,
                         const cv::Mat& knownKernel);

// The job status of an outcome (kJobSucceeded, ...).
int JobStatusOf(DeblurResult result);

// The transforms after a job: a stopped one keeps what it measured and
// measures nothing more now (the user wants it to stop); otherwise the
// plans the job had to estimate are measured, within half the job's time,
// so that the next job of this size is faster. Not after memory ran short:
// measuring needs memory of its own.
void TransformsAfterJob(DeblurResult result, double jobSeconds);

// The job writes its kernel picture through the picture library.
using io::WriteKernelPicture;

class DeblurJob {
 public:
  DeblurJob(const DeblurSettings& settings, ProgressCell* progress);

  // Runs the job named by mode; the worker thread's body.
  void Run();

  // Asks a running job to stop, from any thread (a signal handler too); a
  // job asked before it starts stops at once. It ends with kJobCancelled
  // within a checkpoint's time.
  void RequestCancel() { context.cancel.store(true); }

  // Prepares a "remaining" run with a kernel the caller already has.
  void UseKnownKernel(const cv::Mat& knownKernel);

  DeblurSettings settings;
  JobOptions options;
  // BGR: 8-bit, 16-bit, or 32-bit float on the 0-1 scale; only read.
  cv::Mat input;
  // BGR, the whole picture: 8-bit for an 8-bit input, else 16-bit.
  cv::Mat result;
  cv::Mat kernel;  // the last usable kernel (estimated or known), kept between runs
  ProgressCell* progress = nullptr;
  float seconds = 0.0f;  // engine call only
  std::string mode;
  DeblurRegion region;
  int status = kJobNoMode;
  std::string kernelPath = "kernel.png";  // empty: no kernel picture
  // Why the job was refused for lack of memory ("needs about 9.1 GiB of
  // memory; 6.0 GiB are free"); empty otherwise.
  std::string memoryShortfall;
  // One line when a job asked for the GPU and ran on the CPU, or when the
  // GPU failed during the job (then the check's line).
  std::string processorNotice;
  // The blur size (height, width) an estimation run with
  // options.findBlurSize found; 0 before, and when it found none.
  int foundKernelHeight = 0;
  int foundKernelWidth = 0;
  // The engine's context while this job runs: the stop request and where
  // its diagnostic lines go (standard output unless a sink is set).
  JobContext context;

 private:
  void Take(const DeblurOutcome& outcome, bool blind);
};

}  // namespace velmora
