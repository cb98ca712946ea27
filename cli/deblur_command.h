// One invocation of velmora-deblur, after the command line has been parsed:
// checks everything that can be checked before the work starts, runs the
// job on a worker thread and writes the result.
#pragma once

#include <filesystem>
#include <optional>

#include "cli/options.h"
#include "frontend/job.h"

namespace velmora::cli {

struct DeblurCommand {
  std::filesystem::path input;
  std::filesystem::path output;     // empty: DefaultOutputPath(input)
  std::filesystem::path kernelOut = "kernel.png";
  std::optional<std::filesystem::path> knownKernel;  // set: non-blind mode
  BlurSize blurSize = kAutoBlurSize;
  float smoothness = 0.04f;
  bool reduceRinging = false;
  bool reduceNoise = false;
  float gamma = 1.0f;
  KernelEstimator estimator = KernelEstimator::kClassic;
  // Clipped highlights taken as lower bounds: serves night pictures, and
  // changes nothing in a picture without clipped samples.
  Highlights highlights = Highlights::kModel;
  std::optional<DeblurRegion> region;
  bool whole = false;         // after the region, restore the whole picture
  bool gpuRequested = false;  // --gpu
  bool quiet = false;
  bool engineLog = false;     // let the engine's console lines through
  bool printResult = true;    // end with the "Running time", "Blur size found" and "Saved" lines (unless quiet)
};

// The kernel a picture was restored with: its size, and whether the job
// found that size rather than being given it.
struct RestoredWith {
  int kernelHeight = 0;
  int kernelWidth = 0;
  bool sizeFound = false;
};

// Returns the exit status; throws CliError (or the picture library's
// IoError) for refusals. On success, *restoredWith (when given) says what
// the kernel was.
int RunDeblur(const DeblurCommand& request, RestoredWith* restoredWith = nullptr);

// RunDeblur reported as RunReported does, every line naming the request's
// input: what a picture of a batch, or the tool's one picture, answers.
int RunDeblurReported(const DeblurCommand& request, RestoredWith* restoredWith = nullptr);

}  // namespace velmora::cli
