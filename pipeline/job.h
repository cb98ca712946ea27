// One deblurring job as the application's worker thread and the command-line
// tool run it: picture conversion to and from planar floats, the engine call,
// the kernel picture and the running time. No Qt here: the desktop worker
// thread wraps a DeblurJob and calls Run() from its thread body.
#pragma once

#include <opencv2/core.hpp>

#include <string>

#include "estimation/sharp_params.h"
#include "pipeline/engine.h"
#include "pipeline/job_context.h"

namespace velmora {

// A region of interest relative to the picture's size, origin top-left.
struct DeblurRegion {
  double x = 0, y = 0, width = 0, height = 0;
};

// A region in pixels, inside the picture.
struct PixelRegion {
  int row0 = 0, col0 = 0, rows = 0, cols = 0;
};

// The run modes.
inline constexpr const char* kModeComplete = "complete";
inline constexpr const char* kModePartial = "partial";
inline constexpr const char* kModeRemaining = "remaining";

// How a blind job estimates the kernel: the classic estimator (shock-filter
// edge prediction), or the sharp one (an L0 gradient prior, a masked kernel
// solve); the classic is the default.
enum class KernelEstimator { kClassic, kSharp };

// The estimator's name as the command line and the captions spell it
// ("classic", "sharp"), and back; false for an unknown name.
const char* EstimatorName(KernelEstimator estimator);
bool ParseEstimatorName(const std::string& name, KernelEstimator* estimator);

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
  kJobNoMode = -1,            // also the value while running
  kJobOutOfMemory = kEngineOutOfMemory,
  kJobInvalidInput = kEngineInvalidArgument,  // unusable picture, kernel or region
  kJobInternalError = kEngineInternalError,
  kJobGpuFailed = kEngineGpuFailed,  // the next job runs on the CPU
  kJobCancelled = kEngineCancelled,  // stopped on request: no result, no kernel picture
};

inline constexpr const char* kInsufficientInformation =
    "Insufficient information.\nPlease try larger patch or adjust the kernel size.";
inline constexpr const char* kRegionTooSmall = "Please choose a larger region.";

// The region's pixels, clamped to the picture: col0 = trunc(x cols),
// rows = trunc((y + height) rows) - row0 + 1, and so on.
PixelRegion RegionInPixels(const DeblurRegion& region, int rows, int cols);

// The blur-size presets the application and the command-line tool offer:
// Small, Medium and Large.
inline constexpr int kBlurPresets[3] = {19, 31, 51};

// The smallest region side the application accepts for a kernel side.
int MinimumRegionSide(int kernelSide);

// The application's region rule: trunc(rows x height) and trunc(cols x
// width) reach MinimumRegionSide of the kernel's height and width.
bool RegionAccepted(const DeblurRegion& region, int rows, int cols, int kernelHeight,
                    int kernelWidth);

// The region rule applied to a whole rows x cols picture: each side at
// least three blur sizes. A larger blur gives no usable estimate.
bool BlurFitsPicture(int rows, int cols, int kernelHeight, int kernelWidth);

// The largest odd blur side a picture side leaves room for (a third of it,
// at most 121); 0 when not even 3 fits.
int LargestBlurSide(int pictureSide);

// "The blur size 121 x 121 is too large for this 400 x 300 picture: ..."
// with the largest size it allows (height x width, as the blur size).
std::string BlurTooLargeMessage(int rows, int cols, int kernelHeight, int kernelWidth);

// Writes the kernel scaled by its maximum to 255 as an 8-bit grey picture.
// Returns false when the file cannot be written.
bool WriteKernelPicture(const cv::Mat& kernel, const std::string& path);

class DeblurJob {
 public:
  DeblurJob(const DeblurSettings& settings, ProgressCell* progress);

  // Runs the job named by mode; the worker thread's body.
  void Run();

  // Asks a running job to stop, from any thread (a signal handler too); a
  // job asked before it starts stops at once. It ends with kJobCancelled
  // within a checkpoint's time.
  void RequestCancel() { context.cancel.store(true); }

  // Prepares a "remaining" run with a kernel the caller already has: the
  // picture is converted to floats as a "partial" run would leave it.
  void UseKnownKernel(const cv::Mat& knownKernel);

  DeblurSettings settings;
  JobOptions options;
  // BGR before the first run: 8-bit, 16-bit, or 32-bit float on the 0-1
  // scale; 32-bit float on the 0-1 scale after.
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
  void RunEstimation(bool partial);
  void RunRemaining();
  void ConvertInput();
  // The depth of the result, fixed when the input is first converted: 8-bit
  // for an 8-bit input, else 16-bit.
  int resultDepth_ = CV_8U;
  bool converted_ = false;
  // False, with memoryShortfall set, when a run on rows x cols (of the
  // whole picture of wholeRows x wholeCols) cannot fit in memory.
  bool MemoryFits(int rows, int cols, bool blind, bool useCpu);
  // Whether this run of rows x cols goes to the CPU; sets processorNotice.
  bool RunsOnCpu(int rows, int cols, int kernelRows, int kernelCols);
  // Records the fault line of a job the GPU failed.
  void NoteEngineResult(int engine);
  void Finish(const cv::Mat& floatResult, bool writeKernel);
};

}  // namespace velmora
