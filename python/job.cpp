#include "python/job.h"

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "frontend/job_fit.h"

namespace velmora::python {

namespace {

// How often the calling thread wakes for signals and progress: Ctrl-C is
// then felt within this and the engine's own checkpoint interval.
constexpr std::chrono::milliseconds kPoll(50);

// The engine keeps one job's context at a time, for the whole process.
std::timed_mutex& EngineTurn() {
  static std::timed_mutex turn;
  return turn;
}

// Python's pending signal handlers, run with the GIL held; what they raise
// (KeyboardInterrupt) is thrown on.
void RunSignalHandlers() {
  if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

// Waits for the engine with the GIL released, so that the job running
// holds no thread up; Ctrl-C stops the wait too.
std::unique_lock<std::timed_mutex> TakeEngine() {
  std::unique_lock<std::timed_mutex> turn(EngineTurn(), std::defer_lock);
  for (;;) {
    bool taken = false;
    {
      py::gil_scoped_release free;
      taken = turn.try_lock_for(kPoll);
    }
    if (taken) return turn;
    RunSignalHandlers();
  }
}

// Calls the caller's progress callable when the percentage has risen.
class ProgressReport {
 public:
  explicit ProgressReport(const py::object& callback) : callback_(callback) {}
  void Tell(float percent) {
    if (callback_.is_none() || percent <= told_) return;
    told_ = percent;
    callback_(percent);
  }

 private:
  const py::object& callback_;
  float told_ = -1.0f;
};

[[noreturn]] void Raise(PyObject* type, const std::string& text) {
  PyErr_SetString(type, text.c_str());
  throw py::error_already_set();
}

// The outcome of a job that did not succeed, as the exception for it.
[[noreturn]] void RaiseFailure(const DeblurRequest& request, const DeblurOutcome& outcome) {
  const std::string problem = OutcomeProblem(request, outcome);
  switch (outcome.result) {
    case DeblurResult::kEstimationFailed: throw EstimationFailed(problem);
    case DeblurResult::kOutOfMemory: Raise(PyExc_MemoryError, problem);
    case DeblurResult::kInvalidInput: throw py::value_error(problem);
    default: Raise(PyExc_RuntimeError, problem);
  }
}

}  // namespace

DeblurOutcome RunJob(const DeblurRequest& request, const cv::Mat& picture, const py::object& progress) {
  const std::unique_lock<std::timed_mutex> turn = TakeEngine();
  DeblurControl control;  // no log: the engine's diagnostic lines are dropped
  std::packaged_task<DeblurOutcome()> task([&] { return Deblur(request, picture, &control); });
  std::future<DeblurOutcome> done = task.get_future();
  std::thread worker;
  try {
    worker = std::thread(std::move(task));
  } catch (const std::system_error&) {
    Raise(PyExc_MemoryError, "not enough memory to start the worker thread");
  }
  ProgressReport report(progress);
  try {
    for (;;) {
      bool finished = false;
      {
        py::gil_scoped_release free;
        finished = done.wait_for(kPoll) == std::future_status::ready;
      }
      if (finished) break;
      RunSignalHandlers();
      report.Tell(control.Progress());
    }
  } catch (...) {
    // The job stops at its next checkpoint; the exception goes on once it
    // has, so that the next call finds the engine free.
    control.cancel = true;
    {
      py::gil_scoped_release free;
      worker.join();
    }
    throw;
  }
  worker.join();
  DeblurOutcome outcome = done.get();
  if (outcome.result != DeblurResult::kSucceeded) RaiseFailure(request, outcome);
  report.Tell(100.0f);  // the engine's last value is just short of it
  return outcome;
}

}  // namespace velmora::python
