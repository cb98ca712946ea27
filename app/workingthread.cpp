#include "app/workingthread.h"

#include <exception>

WorkingThread::WorkingThread(const DeblurSettings& settings, ProgressCell* progress)
    : QThread(nullptr), job_(settings, progress) {}

WorkingThread::~WorkingThread() { wait(); }

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
