// The application's one-job rule and the only door to the engine's jobs: at
// most one deblurring job runs at a time, in the whole program. A page asks
// for a run by a call and hears of it by signals, as it would of any worker
// thread; the worker threads and their engine jobs stay in here, so that
// nothing outside knows how the engine is asked.
#pragma once

#include <QObject>
#include <QTimer>
#include <opencv2/core.hpp>

#include <map>
#include <memory>
#include <string>

#include "pipeline/engine.h"
#include "frontend/job.h"

class WorkingThread;

// One run as a page asks for it.
struct JobRequest {
  cv::Mat picture;  // blue-green-red at its own depth, the whole picture; never written to
  DeblurSettings settings;
  velmora::JobOptions options;
  std::string mode = velmora::kModeComplete;
  velmora::DeblurRegion region;  // used by partial runs only
  // A kernel the user loaded (CV_32F): a "remaining" run restores with it
  // instead of an estimate.
  cv::Mat knownKernel;
};

// What a run left, copied out of its worker: the worker keeps its own for a
// following whole-picture run.
struct JobOutcome {
  int status = velmora::kJobNoMode;
  float seconds = 0.0f;
  cv::Mat result;  // empty when the run gave no picture
  cv::Mat kernel;  // CV_32F, the last usable kernel
  // Set when the job was refused for lack of memory before it started.
  std::string memoryShortfall;
  // One line when the job asked for the GPU and ran on the CPU, or the
  // GPU's fault when it failed during the job.
  std::string processorNotice;
  // The blur size a run that finds it found (0 when none); a whole-picture
  // run after a region's keeps the region's.
  int foundKernelHeight = 0;
  int foundKernelWidth = 0;
};

class JobController : public QObject {
  Q_OBJECT

 public:
  explicit JobController(QObject* parent = nullptr);
  // Stops a running job and waits for it: a running thread is never
  // destroyed.
  ~JobController() override;

  bool running() const { return current_ != 0; }

  // Starts a run of request unless a job runs. Returns the job's number
  // (never 0), or 0 when one runs or no thread could be created; then
  // nothing changes.
  int start(const JobRequest& request);

  // Runs the rest of the picture on the worker of job `id`, whose partial
  // run found the kernel (or which was given one). False when a job runs
  // or there is no such job.
  bool runRemaining(int id);

  // Asks the running job to stop; it ends as usual, cancelled.
  void cancel();

  // Stops the running job and waits for its thread: for closing.
  void cancelAndWait();

  // Job `id` will not be run again (its page closed): its worker and
  // everything it holds go. A running one is stopped first, and nobody
  // hears of its end.
  void release(int id);

  // What job `id`'s worker was given (null for no such job).
  const velmora::JobOptions* options(int id) const;

 signals:
  void runningChanged(bool running);
  // How far job `id` has come, 0 to 100 (below 0 before its first step).
  void progressed(int id, float percent);
  // Job `id` has ended (succeeded, failed or cancelled); its thread has
  // finished.
  void jobFinished(int id, const JobOutcome& outcome);

 private:
  bool launch(int id);
  void onFinished();
  void reportProgress();
  WorkingThread* worker(int id) const;

  std::map<int, std::unique_ptr<WorkingThread>> workers_;
  int current_ = 0;
  int lastId_ = 0;
  // The engine writes progress without telling anyone: it is read on a
  // timer while a job runs.
  QTimer poll_;
};
