// The application's one-job rule: at most one deblurring job runs at a time,
// in the whole program. Pages hand it their worker thread to start; it says
// by signals when the running state changes and when a job has ended.
#pragma once

#include <QObject>
#include <QPointer>

class WorkingThread;

class JobController : public QObject {
  Q_OBJECT

 public:
  explicit JobController(QObject* parent = nullptr);

  bool running() const { return !current_.isNull(); }

  // Starts thread (not owned) unless a job runs. False when one runs or no
  // thread could be created; then nothing changes.
  bool start(WorkingThread* thread);

  // Asks the running job to stop; it ends as usual, cancelled.
  void cancel();

  // Stops the running job and waits for its thread: for closing.
  void cancelAndWait();

 signals:
  void runningChanged(bool running);
  // thread's job has ended (succeeded, failed or cancelled); the thread has
  // finished and its results may be read.
  void jobFinished(WorkingThread* thread);

 private:
  void onFinished();

  QPointer<WorkingThread> current_;
};
