// The worker thread of one result page: runs a DeblurJob off the
// user-interface thread.
#pragma once

#include <QThread>

#include <functional>

#include "frontend/job.h"

class WorkingThread : public QThread {
 public:
  // progress: the page's cell, written by the engine; not owned.
  WorkingThread(const DeblurSettings& settings, ProgressCell* progress);
  // Waits for a running job: a running thread is never destroyed.
  ~WorkingThread() override;

  // Set before start().
  void setMode(const char* mode) { job_.mode = mode; }
  const std::string& mode() const { return job_.mode; }
  void setRegion(const velmora::DeblurRegion& region) { job_.region = region; }
  void setInput(const cv::Mat& picture) { job_.input = picture; }
  void setOptions(const velmora::JobOptions& options) { job_.options = options; }
  const velmora::JobOptions& options() const { return job_.options; }

  // A "remaining" run with a kernel the user loaded; set after setInput.
  void useKnownKernel(const cv::Mat& kernel) { job_.UseKnownKernel(kernel); }

  // Asks the job to stop, from any thread; it ends cancelled.
  void requestCancel() { job_.RequestCancel(); }

  // Valid once the thread has finished (isFinished()); never read while it
  // runs, because the thread writes them.
  int status() const { return job_.status; }
  float seconds() const { return job_.seconds; }
  const cv::Mat& result() const { return job_.result; }
  const cv::Mat& kernel() const { return job_.kernel; }
  // Set when the job was refused for lack of memory before it started.
  const std::string& memoryShortfall() const { return job_.memoryShortfall; }
  const std::string& processorNotice() const { return job_.processorNotice; }
  // The blur size a job that finds it found (0 when none); a whole-picture
  // run after a region's keeps the region's.
  int foundKernelHeight() const { return job_.foundKernelHeight; }
  int foundKernelWidth() const { return job_.foundKernelWidth; }

  // Runs body, turning any exception that escapes it into a failed job, so
  // that nothing thrown on the worker thread ends the program.
  static void RunCaught(velmora::DeblurJob& job, const std::function<void()>& body);

 protected:
  void run() override;

 private:
  velmora::DeblurJob job_;
};
