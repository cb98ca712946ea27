// The engine entries answer with results, never exceptions: what the
// engine's insides throw becomes the matching EngineResult here.
#pragma once

#include <new>

#include "pipeline/engine_errors.h"
#include "pipeline/job_context.h"
#include "pipeline/plan_cache.h"
#include "src/gpu_check.h"

namespace velmora {

// Runs call() with the job's planning allowance for a rows x cols picture.
template <typename Call>
int GuardedEngineCall(int rows, int cols, Call call) {
  try {
    const PlanningAllowance allowance(JobPlanningAllowance(rows, cols));
    return call();
  } catch (const std::bad_alloc&) {
    return kEngineOutOfMemory;
  } catch (const cv::Exception& e) {
    return EngineResultFor(e);
  } catch (const gpu::GpuFault&) {
    return kEngineGpuFailed;
  } catch (const JobCancelled&) {
    return kEngineCancelled;
  }
}

}  // namespace velmora
