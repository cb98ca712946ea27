#include "app/jobcontroller.h"

#include "app/workingthread.h"

JobController::JobController(QObject* parent) : QObject(parent) {}

bool JobController::start(WorkingThread* thread) {
  if (running() || !thread) return false;
  current_ = thread;
  // Queued: the end is handled on this thread, after the worker has stopped.
  connect(thread, &QThread::finished, this, &JobController::onFinished, Qt::UniqueConnection);
  thread->start();
  if (!thread->isRunning() && !thread->isFinished()) {
    current_.clear();
    return false;
  }
  emit runningChanged(true);
  return true;
}

void JobController::cancel() {
  if (WorkingThread* thread = current_.data()) thread->requestCancel();
}

void JobController::cancelAndWait() {
  WorkingThread* thread = current_.data();
  if (!thread) return;
  thread->requestCancel();
  thread->wait();
  onFinished();
}

void JobController::onFinished() {
  WorkingThread* thread = current_.data();
  if (!thread || !thread->isFinished()) return;  // already handled, or a later start
  current_.clear();
  emit runningChanged(false);
  emit jobFinished(thread);
}
