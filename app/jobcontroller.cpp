#include "app/jobcontroller.h"

#include <utility>

#include "app/workingthread.h"

namespace {

constexpr int kPollMilliseconds = 100;

}  // namespace

JobController::JobController(QObject* parent) : QObject(parent) {
  poll_.setInterval(kPollMilliseconds);
  connect(&poll_, &QTimer::timeout, this, &JobController::reportProgress);
}

JobController::~JobController() {
  // The program is ending: nobody waits for this result.
  if (WorkingThread* thread = worker(current_)) thread->requestCancel();
  workers_.clear();  // each waits for its thread
}

WorkingThread* JobController::worker(int id) const {
  const auto found = workers_.find(id);
  return found == workers_.end() ? nullptr : found->second.get();
}

int JobController::start(const JobRequest& request) {
  if (running()) return 0;
  const int id = ++lastId_;
  workers_.emplace(id, std::make_unique<WorkingThread>(request));
  if (launch(id)) return id;
  workers_.erase(id);
  return 0;
}

bool JobController::runRemaining(int id) {
  WorkingThread* thread = worker(id);
  if (running() || !thread) return false;
  thread->prepareRemainingRun();
  return launch(id);
}

bool JobController::launch(int id) {
  WorkingThread* thread = worker(id);
  // Queued: the end is handled on this thread, after the worker has stopped.
  connect(thread, &QThread::finished, this, &JobController::onFinished, Qt::UniqueConnection);
  thread->start();
  if (!thread->isRunning() && !thread->isFinished()) return false;
  current_ = id;
  poll_.start();
  emit runningChanged(true);
  return true;
}

void JobController::cancel() {
  if (WorkingThread* thread = worker(current_)) thread->requestCancel();
}

void JobController::cancelAndWait() {
  WorkingThread* thread = worker(current_);
  if (!thread) return;
  thread->requestCancel();
  thread->wait();
  onFinished();
}

void JobController::release(int id) {
  WorkingThread* thread = worker(id);
  if (!thread) return;
  if (id == current_) {
    thread->requestCancel();
    thread->wait();
    current_ = 0;
    poll_.stop();
    // Told later: the page that let it go is being taken down meanwhile.
    QMetaObject::invokeMethod(this, [this] { emit runningChanged(running()); }, Qt::QueuedConnection);
  }
  workers_.erase(id);
}

const velmora::JobOptions* JobController::options(int id) const {
  const WorkingThread* thread = worker(id);
  return thread ? &thread->options() : nullptr;
}

void JobController::reportProgress() {
  if (const WorkingThread* thread = worker(current_)) emit progressed(current_, thread->progress());
}

void JobController::onFinished() {
  WorkingThread* thread = worker(current_);
  if (!thread || !thread->isFinished()) return;  // already handled, or a later start
  const int id = std::exchange(current_, 0);
  poll_.stop();
  thread->wait();  // finished already: this only orders the reads below after the thread's writes
  const JobOutcome outcome = thread->outcome();
  emit runningChanged(false);
  emit jobFinished(id, outcome);
}
