// One invocation of velmora-deblur, after the command line has been parsed:
// checks everything that can be checked before the work starts, runs the
// job on a worker thread and writes the result.
#pragma once

#include <filesystem>
#include <optional>

#include "cli/options.h"
#include "pipeline/job.h"

namespace velmora::cli {

struct DeblurRequest {
  std::filesystem::path input;
  std::filesystem::path output;     // empty: DefaultOutputPath(input)
  std::filesystem::path kernelOut = "kernel.png";
  std::optional<std::filesystem::path> knownKernel;  // set: non-blind mode
  BlurSize blurSize;
  float smoothness = 0.04f;
  bool reduceRinging = false;
  bool reduceNoise = false;
  float gamma = 1.0f;
  KernelEstimator estimator = KernelEstimator::kClassic;
  std::optional<DeblurRegion> region;
  bool whole = false;         // after the region, restore the whole picture
  bool gpuRequested = false;  // --gpu
  bool quiet = false;
  bool engineLog = false;     // let the engine's console lines through
  bool printResult = true;    // end with the "Running time" and "Saved" lines (unless quiet)
};

// Returns the exit status; throws CliError for refusals.
int RunDeblur(const DeblurRequest& request);

}  // namespace velmora::cli
