// What a result page does: the life of its one job. It asks the job
// controller for the run and hears back by signals, shows the progress,
// then the restored picture with its caption and kernel, or why there is
// none; it offers the whole picture after a region's run, and before and
// after on the picture view.
#pragma once

#include <QObject>
#include <QPointer>
#include <opencv2/core.hpp>

#include "app/jobcontroller.h"
#include "app/result_texts.h"

class QShortcut;
class QWidget;
class PictureView;

namespace Ui {
class ImageWidget;
}

class ResultPage : public QObject {
  Q_OBJECT

 public:
  // page: the page built from ui (not owned), view: its picture.
  ResultPage(QWidget* page, Ui::ImageWidget* ui, PictureView* view);
  // Lets the controller drop the page's worker.
  ~ResultPage() override;

  // The application's job controller (not owned), which runs the job; set
  // before start.
  void setJobController(JobController* jobs);

  // Runs request on this page (once); kernelName names the file of
  // request's known kernel, for the caption.
  void start(const JobRequest& request, const QString& kernelName = QString());
  // "Whole Image >>": the rest of the picture with the kernel the region's
  // run found.
  void runWholePicture();
  // Asks the running job to stop.
  void cancel();

  bool busy() const { return busy_; }
  // A finished page whose job gave a picture.
  bool hasResult() const { return !busy_ && !failed_ && !image_.empty(); }
  // The last job of this page was stopped by the user.
  bool cancelled() const { return cancelled_; }
  // A result that was never saved (closing asks before discarding it).
  bool unsavedResult() const { return hasResult() && !saved_; }
  void markSaved() { saved_ = true; }

  // The input until the job ends, then the result.
  const cv::Mat& image() const { return image_; }
  // The kernel of the finished job (CV_32F), empty before.
  const cv::Mat& kernel() const { return kernel_; }
  // The blur size an Auto job found, height and width; 0 before its end
  // and when it found none.
  int foundKernelHeight() const { return foundKernelHeight_; }
  int foundKernelWidth() const { return foundKernelWidth_; }
  // The run the next start or "Whole Image >>" makes: after a region's run
  // that gave a kernel, "remaining".
  const std::string& mode() const { return mode_; }
  // What the page asked for.
  const JobRequest& request() const { return request_; }
  // The controller's number for this page's job; 0 before it started.
  int jobId() const { return id_; }
  // The tab's tooltip: the job's settings.
  QString summary() const;

 signals:
  // "Input << Image" was pressed.
  void backRequested();
  // A job started or ended here: what can be saved or run may have changed.
  void jobStateChanged();
  // A job ended, not stopped by the user (with a result or an error).
  void jobEnded();

 private:
  JobDescription description() const;
  // Starts the page's run, or the rest of the picture after it.
  void launch();
  bool askController();
  void refuseStart();
  void onProgress(int id, float percent);
  void onJobFinished(int id, const JobOutcome& outcome);
  void showFinished(const JobOutcome& outcome);
  void showCancelled();
  void showResultControls(bool shown);
  void showKernel();
  void saveKernel();

  QWidget* page_;
  Ui::ImageWidget* ui_;
  PictureView* view_;
  QShortcut* cancelShortcut_ = nullptr;
  QPointer<JobController> jobs_;
  JobRequest request_;
  QString kernelName_;
  std::string mode_;
  int id_ = 0;
  bool busy_ = false;
  bool failed_ = false;
  bool cancelled_ = false;
  bool saved_ = false;
  cv::Mat image_;
  cv::Mat kernel_;
  int foundKernelHeight_ = 0;
  int foundKernelWidth_ = 0;
};
