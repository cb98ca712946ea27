// What one job hands the engine besides the entries' arguments: a request
// to stop and where the engine's diagnostic lines go. The entries keep their
// signatures; the job makes its context current on its thread for the
// length of the engine call (JobContextScope). The engine runs one job at a
// time, so one context is current at a time.
#pragma once

#include <atomic>
#include <functional>
#include <utility>

namespace velmora {

struct JobContext {
  JobContext() = default;
  // A job is moved only while nothing runs it: the values move with it.
  JobContext(JobContext&& other) noexcept { *this = std::move(other); }
  JobContext& operator=(JobContext&& other) noexcept {
    cancel.store(other.cancel.load());
    alsoCancel = other.alsoCancel;
    log = std::move(other.log);
    cancelAtCheckpoint = other.cancelAtCheckpoint;
    checkpoints.store(other.checkpoints.load());
    return *this;
  }

  // Set from any thread, a signal handler included: the engine stops at its
  // next checkpoint and the entry returns kEngineCancelled.
  std::atomic<bool> cancel{false};
  // A second stop request the caller owns (a library user's control), read
  // as cancel is; null for none. It must outlive the job.
  const std::atomic<bool>* alsoCancel = nullptr;
  // Receives each diagnostic line (newline included) in place of standard
  // output, where the engine prints them without a context.
  std::function<void(const char* line)> log;
  // Tests: act as if cancel were set at this checkpoint (1 = the first);
  // 0 never. checkpoints counts those passed.
  long cancelAtCheckpoint = 0;
  std::atomic<long> checkpoints{0};
};

// Makes context current until destroyed; the one before comes back then.
class JobContextScope {
 public:
  explicit JobContextScope(JobContext* context);
  ~JobContextScope();
  JobContextScope(const JobContextScope&) = delete;
  JobContextScope& operator=(const JobContextScope&) = delete;

 private:
  JobContext* previous_;
};

// Thrown at the checkpoint of a job asked to stop. Not a std::exception:
// no handler of other failures can take it for one.
struct JobCancelled {};

// The engine's side. Checkpoint throws JobCancelled when the current job is
// to stop; the engine calls it between iterations, planes, levels and
// device launches, on the job's thread only.
void Checkpoint();

// Whether a job's context is current, and whether it has been asked to
// stop; neither throws.
bool JobContextCurrent();
bool StopRequested();

// One diagnostic line (with its newline) to the current job's sink, else to
// standard output, flushed.
void EngineLog(const char* line);
void EngineLogFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace velmora
