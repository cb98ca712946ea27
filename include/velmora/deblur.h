// Velmora: removes camera-shake blur from a photograph.
//
// One request, one call, one outcome:
//
//   velmora::DeblurRequest request;              // blind, whole picture
//   request.findBlurSize = true;                 // the size is found
//   velmora::DeblurOutcome out = velmora::Deblur(request, picture);
//   if (out.result == velmora::DeblurResult::kSucceeded) cv::imwrite(path, out.picture);
//
// The engine estimates the blur kernel from the picture itself, coarse to
// fine, then restores the picture by total-variation deconvolution. It runs
// one job at a time: calls from several threads are served one after
// another. A job may be stopped and watched from another thread through a
// DeblurControl.
#pragma once

#include <opencv2/core.hpp>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "velmora/vocabulary.h"

namespace velmora {

// What the job does.
enum class DeblurMode {
  kWhole,            // estimate on the whole picture, restore it
  kRegion,           // estimate on the region, restore only the region
  kRegionThenWhole,  // estimate on the region, restore the whole picture
  kKnownKernel,      // restore the whole picture with request.knownKernel
};

// Where the restore runs. kGpu falls back to the CPU (with a notice) when
// no usable NVIDIA GPU is there, when the job does not fit the device, or
// when the device's answers disagree with the CPU's.
enum class Processor { kCpu, kGpu };

// A region of interest relative to the picture's size, origin top-left:
// x, y, width, height in [0, 1].
struct DeblurRegion {
  double x = 0, y = 0, width = 0, height = 0;
};

// One job. The defaults are those of the desktop application.
struct DeblurRequest {
  DeblurMode mode = DeblurMode::kWhole;
  KernelEstimator estimator = KernelEstimator::kClassic;
  Processor processor = Processor::kCpu;
  // The blur size in pixels, height and width: odd, 3 to 121, and at most a
  // third of the picture's (or region's) side. With findBlurSize, the
  // largest size the search may find; MaxBlurSide gives the largest a
  // picture allows.
  int blurHeight = 19;
  int blurWidth = 19;
  // Find the blur size instead of taking it (recommended: a new user rarely
  // knows it). The outcome's foundHeight x foundWidth says what was found.
  bool findBlurSize = false;
  // Gamma of the estimation's working picture: 1.0 (default) or 2.2.
  float gamma = 1.0f;
  // Scale of the classic estimator's edge threshold, above 0 (default 1).
  float tscale = 1.0f;
  // Weight of the restore's smoothness prior, 0 to 0.2 (default 0.04):
  // higher suppresses more noise and more fine detail.
  float smoothness = 0.04f;
  // A second, smoother solve that suppresses ringing near strong edges.
  bool reduceRinging = false;
  // The noise-robust (L1) data term instead of the least-squares one.
  bool reduceNoise = false;
  // kModel takes clipped samples (lamps at night) as lower bounds; a
  // picture without clipped lamps is restored the same either way.
  Highlights highlights = Highlights::kKeep;
  // kRegion and kRegionThenWhole: where to estimate. Each side must be at
  // least MinimumRegionSide of the blur size.
  DeblurRegion region;
  // kKnownKernel: the blur, CV_32F (other depths are converted), odd sides,
  // positive sum; used as given, not normalised. The caller keeps it.
  cv::Mat knownKernel;
};

enum class DeblurResult {
  kSucceeded,
  kEstimationFailed,  // "Insufficient information": try a larger region or another blur size
  kInvalidInput,      // unusable picture, kernel, region or sizes
  kOutOfMemory,       // refused before starting (see notices) or ran out
  kInternalError,     // an image-library operation failed
  kGpuFailed,         // the GPU failed during the job; the next job runs on the CPU
  kCancelled,         // stopped through DeblurControl::cancel
};

// What a job gives back. The outcome owns its matrices.
struct DeblurOutcome {
  DeblurResult result = DeblurResult::kInvalidInput;
  // The restored picture: the input's size, channels and depth (8-bit in,
  // 8-bit out; 16-bit and float in, 16-bit out). For kRegion the whole
  // picture with the region restored. kEstimationFailed and kGpuFailed
  // give the picture unchanged; the other failures give none.
  cv::Mat picture;
  // The kernel estimated (or the known one): CV_32F, non-negative, summing
  // to 1 when estimated. kEstimationFailed gives what the estimation
  // reached; empty when there is none.
  cv::Mat kernel;
  // With findBlurSize: the size found (0 when none).
  int foundHeight = 0;
  int foundWidth = 0;
  // Lines for the user: why the job ran on the CPU though the GPU was
  // asked, or why the GPU failed.
  std::vector<std::string> notices;
  // Why the job was refused for lack of memory before it started ("needs
  // about 9.1 GiB of memory; 6.0 GiB are free"); empty otherwise.
  std::string memoryShortfall;
  // Seconds the engine worked.
  double seconds = 0.0;
};

// Watches and stops a job from another thread. Lives while the job runs.
struct DeblurControl {
  // Set from any thread (a signal handler too): the job stops at its next
  // checkpoint, within a fraction of a second, with kCancelled.
  std::atomic<bool> cancel{false};
  // The engine's diagnostic lines (with their newlines); unset: none.
  std::function<void(const char* line)> log;
  // Percent done, 0 to 100, -1 before the start; read it with Progress()
  // from any thread while the job runs.
  float progress = -1.0f;
  float Progress() const;
};

// Runs the request on picture: CV_8U, CV_16U or CV_32F (0 to 1), one
// channel (grey) or three (blue, green, red, as OpenCV reads them). The
// picture is only read. Never throws.
DeblurOutcome Deblur(const DeblurRequest& request, const cv::Mat& picture,
                     DeblurControl* control = nullptr);

// The largest odd blur side a picture side leaves room for (a third of it,
// at most 121); 0 when not even 3 fits.
int MaxBlurSide(int pictureSide);

// The smallest region side, in pixels, a blur side needs: max(200, 3 x side).
int MinimumRegionSide(int blurSide);

// "classic" or "sharp", and back; false for an unknown name.
const char* EstimatorName(KernelEstimator estimator);
bool ParseEstimatorName(const std::string& name, KernelEstimator* estimator);

}  // namespace velmora
