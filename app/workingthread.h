// The worker thread of one job: runs a DeblurJob off the user-interface
// thread. Only the job controller makes and reads them.
#pragma once

#include <QThread>

#include <functional>

#include "app/jobcontroller.h"
#include "frontend/job.h"

class WorkingThread : public QThread {
 public:
  explicit WorkingThread(const JobRequest& request);
  // Waits for a running job: a running thread is never destroyed.
  ~WorkingThread() override;

  // The next start runs the rest of the picture with the kernel found (or
  // given), from no progress.
  void prepareRemainingRun();

  // Asks the job to stop, from any thread; it ends cancelled.
  void requestCancel() { job_.RequestCancel(); }

  // 0 to 100; below 0 before the job's first step. Read from any thread.
  float progress() const;

  const velmora::JobOptions& options() const { return job_.options; }

  // What the job left; read once the thread has finished (isFinished()),
  // never while it runs, because the thread writes it.
  JobOutcome outcome() const;

  // Runs body, turning any exception that escapes it into a failed job, so
  // that nothing thrown on the worker thread ends the program.
  static void RunCaught(velmora::DeblurJob& job, const std::function<void()>& body);

 protected:
  void run() override;

 private:
  // Written by the engine on the worker thread, read on the user interface's.
  mutable ProgressCell progress_ = -1.0f;
  velmora::DeblurJob job_;
};
