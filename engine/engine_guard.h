// The engine answers with results, never exceptions: what its insides throw
// becomes the matching EngineResult here, at the entry, and only here.
#pragma once

#include <opencv2/core.hpp>

#include <new>

#include "pipeline/numerics.h"

namespace velmora {

// Returns what call() returns, or the result for what it threw.
template <typename Call>
int Guarded(Call call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    return kEngineOutOfMemory;
  } catch (const cv::Exception& e) {
    return e.code == cv::Error::StsNoMem ? kEngineOutOfMemory : kEngineInternalError;
  } catch (const gpu::GpuFault&) {
    return kEngineGpuFailed;
  } catch (const JobCancelled&) {
    return kEngineCancelled;
  }
}

// Guarded, with the job's planning allowance for a rows x cols picture.
template <typename Call>
int GuardedEngineCall(int rows, int cols, Call call) {
  return Guarded([&] {
    const PlanningAllowance allowance(JobPlanningAllowance(rows, cols));
    return call();
  });
}

}  // namespace velmora
