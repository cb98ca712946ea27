#include "app/result_page.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QShortcut>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

#include "app/picture_file.h"
#include "app/picture_view.h"
#include "ui_imagewidget.h"

ResultPage::ResultPage(QWidget* page, Ui::ImageWidget* ui, PictureView* view)
    : QObject(page), page_(page), ui_(ui), view_(view) {
  // Esc stops the job wherever the focus is in the window; only the page
  // whose job runs listens.
  cancelShortcut_ = new QShortcut(QKeySequence(Qt::Key_Escape), page);
  cancelShortcut_->setContext(Qt::WindowShortcut);
  cancelShortcut_->setEnabled(false);
  connect(cancelShortcut_, &QShortcut::activated, this, &ResultPage::cancel);
  connect(ui_->btn_cancel, &QPushButton::clicked, this, &ResultPage::cancel);
  connect(ui_->btn_back, &QPushButton::clicked, this, &ResultPage::backRequested);
  connect(ui_->btn_next, &QPushButton::clicked, this, &ResultPage::runWholePicture);
  connect(ui_->btn_saveKernel, &QPushButton::clicked, this, &ResultPage::saveKernel);
  connect(ui_->btn_compare, &QPushButton::toggled, view_, &PictureView::setComparing);
  connect(ui_->chb_split, &QCheckBox::toggled, view_, &PictureView::setSplitShown);
  // The backslash flips before and after on the page shown.
  auto* compareKey = new QShortcut(QKeySequence(Qt::Key_Backslash), page);
  compareKey->setContext(Qt::WindowShortcut);
  connect(compareKey, &QShortcut::activated, this, [this] {
    if (!ui_->btn_compare->isHidden()) ui_->btn_compare->toggle();
  });
}

ResultPage::~ResultPage() {
  if (!jobs_) return;
  disconnect(jobs_, nullptr, this, nullptr);
  jobs_->release(id_);
}

void ResultPage::setJobController(JobController* jobs) {
  if (jobs_ == jobs) return;
  if (jobs_) disconnect(jobs_, nullptr, this, nullptr);
  jobs_ = jobs;
  if (!jobs_) return;
  connect(jobs_, &JobController::jobFinished, this, &ResultPage::onJobFinished);
  connect(jobs_, &JobController::progressed, this, &ResultPage::onProgress);
}

JobDescription ResultPage::description() const {
  const bool region = request_.mode == velmora::kModePartial;
  return {request_.settings, request_.options, kernelName_, region, request_.region, foundKernelHeight_,
          foundKernelWidth_};
}

QString ResultPage::summary() const { return JobSummary(description()); }

void ResultPage::start(const JobRequest& request, const QString& kernelName) {
  if (busy_ || id_ != 0) return;
  request_ = request;
  kernelName_ = kernelName;
  mode_ = request.mode;
  image_ = request.picture;  // never written to: shared, not copied
  view_->setOverlayRegion(request.region);
  launch();
}

void ResultPage::launch() {
  if (busy_) return;
  ui_->lbl_param->setText(SettingsCaption(description()));
  if (description().regionSelected) ui_->lbl_img->setHasRegion(true);
  view_->showText(tr("Generating..."));
  page_->repaint();
  showResultControls(false);
  // The input, for comparing, as it was before the first run.
  if (!view_->hasComparison()) view_->setComparison(request_.picture);
  busy_ = true;  // before the controller's signals: the page counts as running
  view_->setBusy(true);
  failed_ = false;
  cancelled_ = false;
  saved_ = false;
  if (!askController()) {
    refuseStart();
    return;
  }
  ui_->btn_cancel->setEnabled(true);
  ui_->btn_cancel->show();
  cancelShortcut_->setEnabled(true);
  emit jobStateChanged();
}

// The worker of a region's run keeps what it found for the rest of the
// picture; any other run starts afresh.
bool ResultPage::askController() {
  if (!jobs_) return false;
  if (mode_ == velmora::kModeRemaining && id_ != 0) return jobs_->runRemaining(id_);
  jobs_->release(id_);
  JobRequest run = request_;
  run.mode = mode_;
  id_ = jobs_->start(run);
  return id_ != 0;
}

// No thread could be created: the job ends here rather than wait forever.
void ResultPage::refuseStart() {
  busy_ = false;
  view_->setBusy(false);
  failed_ = true;
  view_->showImage(image_);
  ui_->pgb_progress->hide();
  QMessageBox::information(page_, tr("Error"), tr("There is not enough memory to start the job."));
  emit jobStateChanged();
}

void ResultPage::runWholePicture() {
  if (busy_ || id_ == 0 || !jobs_ || jobs_->running()) return;
  ui_->btn_back->hide();
  ui_->btn_next->hide();
  ui_->pgb_progress->setValue(0);
  ui_->pgb_progress->show();
  launch();
}

void ResultPage::cancel() {
  if (!busy_ || !jobs_) return;
  ui_->btn_cancel->setEnabled(false);  // once is enough; the job ends shortly
  jobs_->cancel();
}

void ResultPage::onProgress(int id, float percent) {
  if (!busy_ || id != id_) return;
  const int v = static_cast<int>(std::trunc(percent * 10.0 + 0.5));
  ui_->pgb_progress->setValue(std::max(v, 0));
}

void ResultPage::onJobFinished(int id, const JobOutcome& outcome) {
  if (!busy_ || id != id_) return;
  busy_ = false;
  view_->setBusy(false);
  ui_->btn_cancel->hide();
  cancelShortcut_->setEnabled(false);
  if (outcome.status == velmora::kJobCancelled)
    showCancelled();
  else
    showFinished(outcome);
}

void ResultPage::showFinished(const JobOutcome& outcome) {
  ui_->pgb_progress->setValue(1000);
  const bool offerWhole = mode_ == velmora::kModePartial && outcome.status == velmora::kJobSucceeded;
  ui_->btn_next->setVisible(offerWhole);
  if (offerWhole) mode_ = velmora::kModeRemaining;
  ui_->btn_back->show();
  // A job that failed before producing a picture leaves the input shown.
  failed_ = outcome.result.empty();
  if (!failed_) image_ = outcome.result;
  foundKernelHeight_ = outcome.foundKernelHeight;
  foundKernelWidth_ = outcome.foundKernelWidth;
  ui_->lbl_param->setText(FinishedCaption(description(), outcome));
  if (!failed_) kernel_ = outcome.kernel;
  showKernel();
  view_->showImage(image_);
  view_->restoreScroll();
  ui_->pgb_progress->hide();
  showResultControls(!failed_);
  emit jobEnded();
  emit jobStateChanged();
  const QString problem = FailureText(outcome);
  if (!problem.isEmpty()) QMessageBox::information(page_, tr("Error"), problem);
}

// Nothing of a stopped job is kept: the page shows what it showed before
// the job (the input, or the region's result before a whole-picture run).
void ResultPage::showCancelled() {
  // A stopped whole-picture run leaves the region's result, and its offer.
  const bool wholeRunStopped = mode_ == velmora::kModeRemaining;
  cancelled_ = true;
  failed_ = !wholeRunStopped;
  ui_->btn_next->setVisible(wholeRunStopped);
  ui_->btn_back->show();
  ui_->lbl_param->setText(CancelledCaption(description()));
  view_->showImage(image_);
  view_->restoreScroll();
  ui_->pgb_progress->hide();
  showResultControls(wholeRunStopped);
  emit jobStateChanged();
}

void ResultPage::showResultControls(bool shown) {
  ui_->btn_compare->setVisible(shown);
  ui_->chb_split->setVisible(shown);
  ui_->lbl_kernel->setVisible(shown && !kernel_.empty());
  ui_->btn_saveKernel->setVisible(shown && !kernel_.empty());
  if (!shown) ui_->btn_compare->setChecked(false);
}

// The kernel enlarged by a whole factor (nearest neighbour) to fill its box,
// or shrunk to it when larger.
void ResultPage::showKernel() {
  if (kernel_.empty()) return;
  double top = 0.0;
  cv::minMaxLoc(kernel_, nullptr, &top);
  cv::Mat bytes;
  kernel_.convertTo(bytes, CV_8U, top > 0.0 ? 255.0 / top : 0.0);
  const QImage grey(bytes.data, bytes.cols, bytes.rows, static_cast<qsizetype>(bytes.step), QImage::Format_Grayscale8);
  const int box = ui_->lbl_kernel->maximumWidth();
  const int factor = std::max(1, box / std::max(bytes.rows, bytes.cols));
  QImage shown = grey.scaled(bytes.cols * factor, bytes.rows * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  if (shown.width() > box || shown.height() > box)
    shown = shown.scaled(box, box, Qt::KeepAspectRatio, Qt::FastTransformation);
  ui_->lbl_kernel->setPixmap(QPixmap::fromImage(shown));
}

void ResultPage::saveKernel() {
  if (kernel_.empty()) return;
  const QString fileName = QFileDialog::getSaveFileName(
      page_, tr("Save Kernel"), QStringLiteral("kernel.png"),
      tr("PNG, 16-bit (*.png);;TIFF, 32-bit float (*.tif *.tiff)"));
  if (fileName.isEmpty()) return;
  const QString problem = SaveKernelPicture(kernel_, fileName);
  if (!problem.isEmpty()) QMessageBox::information(page_, tr("Error"), problem);
}
