#include "engine/gpu_choice.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>

#include "pipeline/numerics.h"

namespace velmora {

namespace {

// The self-check's answer, once per process: empty when the GPU agrees.
struct SelfCheck {
  std::once_flag once;
  std::string problem;
};

SelfCheck& TheSelfCheck() {
  static SelfCheck check;
  return check;
}

std::string RunSelfCheck() {
  try {
    const std::vector<std::string> disagreeing = CompareGpuWithCpu();
    if (disagreeing.empty()) return {};
    std::string steps;
    for (const std::string& step : disagreeing) steps += (steps.empty() ? "" : ", ") + step;
    std::fprintf(stderr, "GPU self-check: %s differ from the CPU\n", steps.c_str());
    gpu::DisableGpu(kGpuDisagrees);
    return kGpuDisagrees;
  } catch (const gpu::GpuFault& fault) {
    return std::string("the GPU failed its self-check (") + fault.what() + "); using the CPU";
  } catch (const std::exception& e) {
    gpu::DisableGpu(e.what());
    return std::string("the GPU self-check could not run (") + e.what() + "); using the CPU";
  }
}

}  // namespace

namespace {
std::atomic<bool> g_sendToAbsentGpu{false};
}  // namespace

void SendJobsToAbsentGpuForTesting(bool on) { g_sendToAbsentGpu.store(on); }

bool GpuTakesJob(int rows, int cols, int kernelRows, int kernelCols, std::string* notice) {
  notice->clear();
  if (g_sendToAbsentGpu.load() && !gpu::GpuDisabled()) return true;
  if (!gpu::GpuPathUsable()) {
    // An unusable device was told at start-up; what switched it off since is
    // told with every job.
    if (gpu::GpuDisabled())
      *notice = gpu::GpuDisabledReason() == kGpuDisagrees
                    ? kGpuDisagrees
                    : "the GPU failed earlier in this session; running on the CPU";
    return false;
  }
  gpu::DeviceLimits limits;
  if (!gpu::QueryDeviceLimits(&limits)) {
    *notice = "the GPU does not report its limits; running on the CPU";
    return false;
  }
  const std::string fit =
      gpu::GpuFitMessage(CanvasSide(rows, kernelRows), CanvasSide(cols, kernelCols), limits);
  if (!fit.empty()) {
    *notice = fit;
    return false;
  }
  SelfCheck& check = TheSelfCheck();
  std::call_once(check.once, [&check] { check.problem = RunSelfCheck(); });
  if (!check.problem.empty()) {
    *notice = check.problem;
    return false;
  }
  return true;
}

}  // namespace velmora
