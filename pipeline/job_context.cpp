#include "pipeline/job_context.h"

#include <cstdarg>
#include <cstdio>

#include "src/gpu_host.h"

namespace velmora {

namespace {

std::atomic<JobContext*> g_current{nullptr};

}  // namespace

JobContextScope::JobContextScope(JobContext* context) : previous_(g_current.exchange(context)) {
  // The device routines check between their launches through this hook:
  // they cannot see the engine's side.
  gpu::SetLaunchCheck(&Checkpoint);
}

JobContextScope::~JobContextScope() { g_current.store(previous_); }

void Checkpoint() {
  JobContext* context = g_current.load(std::memory_order_acquire);
  if (!context) return;
  const long passed = context->checkpoints.fetch_add(1, std::memory_order_relaxed) + 1;
  if (passed == context->cancelAtCheckpoint) context->cancel.store(true);
  if (context->cancel.load(std::memory_order_relaxed) ||
      (context->alsoCancel && context->alsoCancel->load(std::memory_order_relaxed)))
    throw JobCancelled();
}

bool JobContextCurrent() { return g_current.load(std::memory_order_acquire) != nullptr; }

bool StopRequested() {
  JobContext* context = g_current.load(std::memory_order_acquire);
  return context && (context->cancel.load(std::memory_order_relaxed) ||
                     (context->alsoCancel && context->alsoCancel->load(std::memory_order_relaxed)));
}

void EngineLog(const char* line) {
  JobContext* context = g_current.load(std::memory_order_acquire);
  if (context && context->log) {
    context->log(line);
    return;
  }
  std::fputs(line, stdout);
  std::fflush(stdout);
}

void EngineLogFormat(const char* format, ...) {
  char line[256];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  EngineLog(line);
}

}  // namespace velmora
