// Which processor runs a job that asked for the GPU. The GPU path must be
// usable, the job's canvas must fit the device, and before the first GPU job
// of the process a small built-in case runs on both paths: a GPU whose
// answers disagree with the CPU's is never used.
#pragma once

#include <opencv2/core.hpp>

#include <string>
#include <vector>

#include "pipeline/numerics.h"

namespace velmora {

inline constexpr const char* kGpuDisagrees = "GPU results disagree with the CPU; using the CPU";

// True when a job of rows x cols with a kernelRows x kernelCols kernel runs
// on the GPU. Otherwise *notice says why not, in one line, when there is
// something to tell (the canvas does not fit, the self-check failed or the
// GPU failed earlier); an unusable GPU is told at start-up instead.
bool GpuTakesJob(int rows, int cols, int kernelRows, int kernelCols, std::string* notice);

// For tests on machines without a usable device: while on, jobs that ask
// for the GPU are sent to its path as if a device had passed every check,
// so that their first device call fails as a broken device's would. The
// fault switches the path off as ever, and later jobs go to the CPU.
void SendJobsToAbsentGpuForTesting(bool on);

// The built-in comparison: padding, one TV-L2 solve and the estimation steps
// of one level on both paths. Returns the names of the steps that disagree
// (empty when all agree). A device fault propagates as GpuFault.
std::vector<std::string> CompareGpuWithCpu();


}  // namespace velmora
