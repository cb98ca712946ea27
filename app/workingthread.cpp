#include "app/workingthread.h"

#include <exception>

#include "pipeline/progress.h"

WorkingThread::WorkingThread(const JobRequest& request)
    : QThread(nullptr), job_(request.settings, &progress_) {
  job_.options = request.options;
  job_.mode = request.mode;
  if (request.mode == velmora::kModePartial) job_.region = request.region;
  // The job converts its input in place; the page's picture stays as it is.
  job_.input = request.picture.clone();
  // After the input: the known kernel's run starts from the converted picture.
  if (!request.knownKernel.empty()) job_.UseKnownKernel(request.knownKernel);
}

WorkingThread::~WorkingThread() { wait(); }

void WorkingThread::prepareRemainingRun() {
  job_.mode = velmora::kModeRemaining;
  WriteProgress(&progress_, -1.0f);
}

float WorkingThread::progress() const { return ReadProgress(&progress_); }

JobOutcome WorkingThread::outcome() const {
  JobOutcome outcome;
  outcome.status = job_.status;
  outcome.seconds = job_.seconds;
  // Copies: a following run writes the job's own again.
  outcome.result = job_.result.clone();
  outcome.kernel = job_.kernel.clone();
  outcome.memoryShortfall = job_.memoryShortfall;
  outcome.processorNotice = job_.processorNotice;
  outcome.foundKernelHeight = job_.foundKernelHeight;
  outcome.foundKernelWidth = job_.foundKernelWidth;
  return outcome;
}

void WorkingThread::RunCaught(velmora::DeblurJob& job, const std::function<void()>& body) {
  try {
    body();
  } catch (...) {
    job.status = velmora::kJobInternalError;
    job.result.release();
  }
}

void WorkingThread::run() {
  RunCaught(job_, [this] { job_.Run(); });
}
