#include "app/imagewidget.h"

#include <QColorSpace>
#include <QFileDialog>
#include <QMessageBox>
#include <QPainter>
#include <QShortcut>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <utility>

#include "app/documentmodel.h"
#include "app/imagelabel.h"
#include "app/imagescrollarea.h"
#include "app/jobcontroller.h"
#include "app/picture_file.h"
#include "app/view_geometry.h"
#include "app/workingthread.h"
#include "pipeline/progress.h"
#include "ui_imagewidget.h"

namespace {

constexpr float kZoomStep = 1.2f;
constexpr float kZoomMin = 0.2f;
constexpr float kZoomMax = 5.0f;
constexpr int kPollMilliseconds = 100;

// A picture of any depth the program reads as 8-bit RGB for the screen,
// converted from its colour space (when valid) to sRGB. *rgb holds the
// pixels of the image returned when no conversion was needed.
QImage ScreenImage(const cv::Mat& bgr, const QColorSpace& space, cv::Mat* rgb) {
  cv::Mat bytes = bgr;
  if (bgr.depth() == CV_16U) bgr.convertTo(bytes, CV_8U, 1.0 / 257.0);
  if (bgr.depth() == CV_32F) bgr.convertTo(bytes, CV_8U, 255.0);
  cv::cvtColor(bytes, *rgb, cv::COLOR_BGR2RGB);
  QImage image(rgb->data, rgb->cols, rgb->rows, static_cast<qsizetype>(rgb->step), QImage::Format_RGB888);
  if (!space.isValid() || space == QColorSpace(QColorSpace::SRgb)) return image;
  image.setColorSpace(space);
  return image.convertedToColorSpace(QColorSpace(QColorSpace::SRgb));  // owns its pixels
}

}  // namespace

ImageWidget::ImageWidget(QWidget* parent) : QWidget(parent), ui(new Ui::ImageWidget) {
  ui->setupUi(this);
  ui->btn_back->hide();
  ui->btn_next->hide();
  ui->btn_cancel->hide();
  // Esc stops the job wherever the focus is in the window; only the page
  // whose job runs listens.
  cancelShortcut_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  cancelShortcut_->setContext(Qt::WindowShortcut);
  cancelShortcut_->setEnabled(false);
  connect(cancelShortcut_, &QShortcut::activated, this, &ImageWidget::on_btn_cancel_clicked);
  connect(ui->sca_imgArea, &ImageScrollArea::zoomRequested, this,
          [this](int steps, const QPoint& at) { zoomBy(steps, at); });
  connect(ui->sca_imgArea, &ImageScrollArea::panKeyHeld, ui->lbl_img, &RegionLabel::setPanKeyHeld);
  // Ctrl++, Ctrl+- and Ctrl+0 (1.0x) on the page shown.
  const std::pair<QKeySequence, int> zoomKeys[] = {{QKeySequence::ZoomIn, 1},
                                                   {QKeySequence(Qt::CTRL | Qt::Key_Equal), 1},
                                                   {QKeySequence::ZoomOut, -1},
                                                   {QKeySequence(Qt::CTRL | Qt::Key_0), 0}};
  for (const auto& [keys, steps] : zoomKeys) {
    auto* shortcut = new QShortcut(keys, this);
    shortcut->setContext(Qt::WindowShortcut);
    const int s = steps;
    connect(shortcut, &QShortcut::activated, this, [this, s] {
      if (s == 0)
        zoomTo(1.0f, QPoint(-1, -1));
      else
        zoomBy(s);
    });
  }
  connect(ui->sca_imgArea, &ImageScrollArea::scrolled, this, [this](int x, int y) {
    if (model_) model_->setScroll(x, y);
  });
  connect(ui->lbl_img, &RegionLabel::selectionMoved, this, &ImageWidget::setRegionFromLabel);
  connect(ui->lbl_img, &RegionLabel::selectionReleased, this, [this] {
    ui->lbl_img->hasRegion = checkRegion();
    setRegionSelected(ui->lbl_img->hasRegion);
  });
  connect(ui->lbl_img, &RegionLabel::selectionCleared, this, [this] { setRegionSelected(false); });
  connect(ui->lbl_img, &RegionLabel::pointerDragged, this, &ImageWidget::onPointerDragged);
  ui->lbl_img->setOutlineOnly(true);
  // The backslash flips before and after on the page shown.
  auto* compareKey = new QShortcut(QKeySequence(Qt::Key_Backslash), this);
  compareKey->setContext(Qt::WindowShortcut);
  connect(compareKey, &QShortcut::activated, this, [this] {
    if (!ui->btn_compare->isHidden()) ui->btn_compare->toggle();
  });
  showResultControls(false);
}

void ImageWidget::showResultControls(bool shown) {
  for (QWidget* w : {static_cast<QWidget*>(ui->btn_compare), static_cast<QWidget*>(ui->chb_split)})
    w->setVisible(shown);
  ui->lbl_kernel->setVisible(shown && !kernel_.empty());
  ui->btn_saveKernel->setVisible(shown && !kernel_.empty());
  if (!shown) ui->btn_compare->setChecked(false);
}

bool ImageWidget::comparing() const { return ui->btn_compare->isChecked() && !inputPicture_.isNull(); }
bool ImageWidget::splitView() const { return comparing() && ui->chb_split->isChecked(); }

void ImageWidget::setSplit(double split) {
  split_ = std::clamp(split, 0.0, 1.0);
  showPicture();
}

void ImageWidget::on_btn_compare_toggled(bool) { showPicture(); }
void ImageWidget::on_chb_split_toggled(bool) { showPicture(); }

// The kernel enlarged by a whole factor (nearest neighbour) to fill its box,
// or shrunk to it when larger.
void ImageWidget::showKernel() {
  if (kernel_.empty()) return;
  double top = 0.0;
  cv::minMaxLoc(kernel_, nullptr, &top);
  cv::Mat bytes;
  kernel_.convertTo(bytes, CV_8U, top > 0.0 ? 255.0 / top : 0.0);
  const QImage grey(bytes.data, bytes.cols, bytes.rows, static_cast<qsizetype>(bytes.step), QImage::Format_Grayscale8);
  const int box = ui->lbl_kernel->maximumWidth();
  const int factor = std::max(1, box / std::max(bytes.rows, bytes.cols));
  QImage shown = grey.scaled(bytes.cols * factor, bytes.rows * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
  if (shown.width() > box || shown.height() > box)
    shown = shown.scaled(box, box, Qt::KeepAspectRatio, Qt::FastTransformation);
  ui->lbl_kernel->setPixmap(QPixmap::fromImage(shown));
}

void ImageWidget::on_btn_saveKernel_clicked() {
  if (kernel_.empty()) return;
  const QString fileName = QFileDialog::getSaveFileName(
      this, tr("Save Kernel"), QStringLiteral("kernel.png"),
      tr("PNG, 16-bit (*.png);;TIFF, 32-bit float (*.tif *.tiff)"));
  if (fileName.isEmpty()) return;
  const QString problem = SaveKernelPicture(kernel_, fileName);
  if (!problem.isEmpty()) QMessageBox::information(this, tr("Error"), problem);
}

const velmora::io::PictureMetadata& ImageWidget::metadata() const {
  static const velmora::io::PictureMetadata kNone;
  return model_ ? model_->metadata : kNone;
}

void ImageWidget::setModel(DocumentModel* model) {
  if (model_) disconnect(model_, nullptr, this, nullptr);
  model_ = model;
  if (!model_) return;
  // The input page shows the document's region, wherever it was set.
  connect(model_, &DocumentModel::regionChanged, this, [this] {
    if (isInput) setRegion(model_->region, model_->regionSelected);
  });
}

void ImageWidget::setInput(bool input) {
  isInput = input;
  ui->lbl_img->setDrawingEnabled(input);
  ui->lbl_img->setOutlineOnly(!input);
}

void ImageWidget::setJobController(JobController* jobs) {
  if (jobs_ == jobs) return;
  if (jobs_) disconnect(jobs_, nullptr, this, nullptr);
  jobs_ = jobs;
  if (jobs_) connect(jobs_, &JobController::jobFinished, this, &ImageWidget::onJobFinished);
}

ImageWidget::~ImageWidget() {
  delete timer;
  delete thread;  // waits for a job still running: a running thread is never destroyed
  delete ui;
}

ImageLabel* ImageWidget::label() const { return ui->lbl_img; }
QProgressBar* ImageWidget::progressBar() const { return ui->pgb_progress; }
QString ImageWidget::caption() const { return ui->lbl_param->text(); }
void ImageWidget::setCaption(const QString& text) { ui->lbl_param->setText(text); }
bool ImageWidget::nextShown() const { return !ui->btn_next->isHidden(); }
void ImageWidget::setNextEnabled(bool enable) { ui->btn_next->setEnabled(enable); }

void ImageWidget::resizeEvent(QResizeEvent* event) { QWidget::resizeEvent(event); }

void ImageWidget::setPicture(const QImage& shown) {
  picture = shown;
  showPicture();
}

void ImageWidget::showImage(const cv::Mat& bgr) {
  setPicture(ScreenImage(bgr, model_ ? model_->colourSpace : QColorSpace(), &rgbImage));
}

float ImageWidget::zoom() const { return model_ ? model_->zoom : 1.0f; }

// The picture as shown at zoom z: the result, or while comparing the input
// in its place or the two either side of the divider.
QImage ImageWidget::shownFrame(float z) const {
  const QSize size(static_cast<int>(picture.width() * z), static_cast<int>(picture.height() * z));
  const QImage result = picture.scaled(size, Qt::KeepAspectRatio, Qt::FastTransformation);
  if (!comparing()) return result;
  const QImage input = inputPicture_.scaled(size, Qt::KeepAspectRatio, Qt::FastTransformation);
  if (!splitView()) return input;
  QImage frame = result.convertToFormat(QImage::Format_RGB888);
  const int divider = static_cast<int>(split_ * frame.width());
  QPainter painter(&frame);
  painter.drawImage(QRect(0, 0, divider, frame.height()), input, QRect(0, 0, divider, input.height()));
  painter.setPen(QPen(Qt::white, 2));
  painter.drawLine(divider, 0, divider, frame.height());
  return frame;
}

void ImageWidget::showPicture() {
  if (picture.isNull()) return;
  ui->lbl_img->setPixmap(QPixmap::fromImage(shownFrame(zoom())));
  // Every zoom step passes here: the name is set, and announced, once.
  const QString name = tr("Picture");
  if (ui->lbl_img->accessibleName() != name) ui->lbl_img->setAccessibleName(name);
  refreshRegionOverlay();
}

void ImageWidget::showLabelText(const QString& text) {
  ui->lbl_img->setAccessibleName(QString());
  ui->lbl_img->setText(text);
}

void ImageWidget::updateZoomControls() {
  const float z = zoom();
  ui->lbl_zoom->setText(QString::asprintf("%.1fx", z));
  ui->btn_zoomOut->setEnabled(!(z < kZoomMin));
  ui->btn_zoomIn->setEnabled(!(z > kZoomMax));
  restoreScroll();
}

void ImageWidget::restoreScroll() {
  if (!model_) return;
  const int x = model_->scrollX, y = model_->scrollY;  // the first call below may change them
  ui->sca_imgArea->horizontalScrollBar()->setSliderPosition(x);
  ui->sca_imgArea->verticalScrollBar()->setSliderPosition(y);
  // A picture just shown has its scroll range only after the next layout:
  // the shared position is put back then too.
  QTimer::singleShot(0, this, [this, x, y] {
    if (!model_ || !isVisible()) return;
    ui->sca_imgArea->horizontalScrollBar()->setSliderPosition(x);
    ui->sca_imgArea->verticalScrollBar()->setSliderPosition(y);
  });
}

void ImageWidget::zoomBy(int steps, QPoint at) {
  if (busy || !model_) return;
  const float z = model_->zoom;
  if (steps > 0 && z < kZoomMax) zoomTo(z * kZoomStep, at);
  if (steps < 0 && z > kZoomMin) zoomTo(z / kZoomStep, at);
}

// The scroll position that keeps the picture point under `at` in place: the
// point's share of the picture is the same before and after.
void ImageWidget::zoomTo(float z, QPoint at) {
  if (!model_ || z == model_->zoom) return;
  const QSize viewport = ui->sca_imgArea->viewport()->size();
  if (at.x() < 0) at = QPoint(viewport.width() / 2, viewport.height() / 2);
  const QSizeF before = shownSize();
  const QPoint onLabel = ui->lbl_img->mapFrom(ui->sca_imgArea->viewport(), at);
  const QPointF share = LabelToRelative(onLabel, before, ui->lbl_img->size());
  model_->setZoom(z);
  const QSizeF after = shownSize();
  auto scrollFor = [](double share, double shown, int view, int pointer) {
    if (shown <= view) return 0;
    return static_cast<int>(std::clamp(share * shown - pointer, 0.0, shown - view));
  };
  model_->setScroll(scrollFor(share.x(), after.width(), viewport.width(), at.x()),
                    scrollFor(share.y(), after.height(), viewport.height(), at.y()));
  showPicture();
  updateZoomControls();
}

// A drag that draws no region moves the divider of the split view, or else
// pans the picture.
void ImageWidget::onPointerDragged(const QPoint& position, const QPoint& global, bool started,
                                   bool panOnly) {
  if (!panOnly && splitView()) {
    if (ui->lbl_img->width() > 0) setSplit(static_cast<double>(position.x()) / ui->lbl_img->width());
    return;
  }
  if (!started) {
    const QPoint delta = global - panLast_;
    QScrollBar* h = ui->sca_imgArea->horizontalScrollBar();
    QScrollBar* v = ui->sca_imgArea->verticalScrollBar();
    h->setValue(h->value() - delta.x());
    v->setValue(v->value() - delta.y());
  }
  panLast_ = global;
}

void ImageWidget::on_btn_zoomIn_clicked() {
  if (!model_ || !(model_->zoom < kZoomMax)) return;
  zoomTo(model_->zoom * kZoomStep, QPoint(-1, -1));
}

void ImageWidget::on_btn_zoomOut_clicked() {
  if (!model_ || !(model_->zoom > kZoomMin)) return;
  zoomTo(model_->zoom / kZoomStep, QPoint(-1, -1));
}

void ImageWidget::on_btn_back_clicked() { emit backRequested(); }

void ImageWidget::setRegionSelected(bool selected) {
  regionSelected = selected;
  if (model_ && isInput) model_->setRegion(region, selected);
}

void ImageWidget::setRegion(const velmora::DeblurRegion& r, bool selected) {
  region = r;
  regionSelected = selected;
  ui->lbl_img->hasRegion = selected;
  refreshRegionOverlay();
}

void ImageWidget::refreshRegionOverlay() {
  ui->lbl_img->setRelativeRegion(QRectF(region.x, region.y, region.width, region.height), shownSize());
}

QSizeF ImageWidget::shownSize() const {
  const float z = zoom();
  return QSizeF(z * picture.width(), z * picture.height());
}

void ImageWidget::setRegionFromLabel(const QRect& rect) {
  const QSizeF shown = shownSize();
  const QSize labelSize = ui->lbl_img->size();
  const QPointF a = LabelToRelative(rect.topLeft(), shown, labelSize);
  const QPointF b = LabelToRelative(QPoint(rect.left() + rect.width() - 1, rect.top() + rect.height() - 1),
                                    shown, labelSize);
  region = {a.x(), a.y(), b.x() - a.x(), b.y() - a.y()};
  refreshRegionOverlay();
  if (model_ && isInput) model_->setRegion(region, regionSelected);
}

QRect ImageWidget::regionInLabel() const {
  const QSizeF shown = shownSize();
  const QSize labelSize = ui->lbl_img->size();
  const QPoint a = RelativeToLabel(QPointF(region.x, region.y), shown, labelSize);
  const QPoint b =
      RelativeToLabel(QPointF(region.x + region.width, region.y + region.height), shown, labelSize);
  return QRect(a, b);
}

bool ImageWidget::checkRegion() {
  const DeblurSettings current = model_ ? model_->settings : settings;
  const bool findSize = model_ ? model_->options.findBlurSize : options.findBlurSize;
  // An Auto job searches within what the region leaves room for.
  const BlurBound bound = findSize ? AutoBlurBound(picture.height(), picture.width(), &region)
                                   : BlurBound{current.kernelHeight, current.kernelWidth};
  if (velmora::RegionAccepted(region, picture.height(), picture.width(), bound.height, bound.width))
    return true;
  const int h = static_cast<int>(picture.height() * region.height);
  const int w = static_cast<int>(picture.width() * region.width);
  if (h <= 20 || w <= 20) return false;  // a click or a tiny drag
  QMessageBox::information(this, tr("Too small"), tr("Please choose a larger region."));
  return false;
}

QString ImageWidget::settingsCaption(const char* noiseText) const {
  QString text = QString::asprintf("Smoothness = %.2f", settings.smoothness);
  if (settings.reduceRinging > 0) text += QStringLiteral(", Reduce Ringing");
  if (settings.reduceNoise > 0) text += QLatin1String(noiseText);
  if (options.highlights == velmora::Highlights::kModel) text += tr(", Protect Highlights");
  // The default estimator goes unnamed, as it always has.
  if (!knownKernelName.isEmpty())
    text += tr(", Kernel: %1").arg(knownKernelName.toHtmlEscaped());
  else if (options.estimator == velmora::KernelEstimator::kSharp)
    text += tr(", Sharp Estimator");
  // An Auto job says so until it has found the size, then gives the size.
  if (options.findBlurSize && knownKernelName.isEmpty()) {
    if (foundKernelHeight_ > 0)
      text += tr("<br />Blur size found: %1 x %2").arg(foundKernelHeight_).arg(foundKernelWidth_);
    else
      text += tr(", Auto Blur Size");
  }
  return text;
}

void ImageWidget::startJob() {
  if (busy) return;
  ui->lbl_param->setText(settingsCaption(", Reduce Noise"));
  if (regionSelected) ui->lbl_img->hasRegion = true;
  showLabelText(tr("Generating..."));
  repaint();
  if (!timer) {
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &ImageWidget::updateProgress);
  }
  timer->start(kPollMilliseconds);
  showResultControls(false);
  if (inputImage_.empty()) {
    inputImage_ = image;  // never written to: shared, not copied
    inputPicture_ = ScreenImage(inputImage_, model_ ? model_->colourSpace : QColorSpace(), &inputRgb_);
  }
  if (mode != velmora::kModeRemaining || !thread) {
    delete thread;
    thread = new WorkingThread(settings, &progress);
    thread->setOptions(options);
    thread->setMode(mode.c_str());
    if (mode == velmora::kModePartial) thread->setRegion(region);
    thread->setInput(image.clone());
    if (!knownKernel.empty()) thread->useKnownKernel(knownKernel);
  } else {
    thread->setMode(velmora::kModeRemaining);
  }
  busy = true;
  failed_ = false;
  cancelled_ = false;
  saved_ = false;
  if (!jobs_ || !jobs_->start(thread)) {
    // No thread could be created: end the job here rather than poll forever.
    timer->stop();
    busy = false;
    failed_ = true;
    showImage(image);
    ui->pgb_progress->hide();
    QMessageBox::information(this, tr("Error"), tr("There is not enough memory to start the job."));
    emit jobStateChanged();
    return;
  }
  ui->btn_cancel->setEnabled(true);
  ui->btn_cancel->show();
  cancelShortcut_->setEnabled(true);
  emit jobStateChanged();
}

void ImageWidget::on_btn_cancel_clicked() {
  if (!busy || !jobs_) return;
  ui->btn_cancel->setEnabled(false);  // once is enough; the job ends shortly
  jobs_->cancel();
}

void ImageWidget::onJobFinished(WorkingThread* finished) {
  if (busy && finished == thread) finishJob();
}

// The timer only moves the bar; the controller says when the job ends.
void ImageWidget::updateProgress() {
  if (!thread || !busy) return;
  const int v = static_cast<int>(std::trunc(ReadProgress(&progress) * 10.0 + 0.5));
  ui->pgb_progress->setValue(std::max(v, 0));
}

// Nothing of a stopped job is kept: the page shows what it showed before
// the job (the input, or the region's result before a whole-picture run).
void ImageWidget::showCancelled() {
  // A stopped whole-picture run leaves the region's result, and its offer.
  const bool wholeRunStopped = mode == velmora::kModeRemaining;
  cancelled_ = true;
  failed_ = !wholeRunStopped;
  ui->btn_next->setVisible(wholeRunStopped);
  ui->btn_back->show();
  ui->lbl_param->setText(settingsCaption(", Reduce Noise") + tr("<br />Cancelled"));
  showImage(image);
  restoreScroll();
  ui->pgb_progress->hide();
  showResultControls(wholeRunStopped);
  emit jobStateChanged();
}

void ImageWidget::finishJob() {
  timer->stop();
  thread->wait();  // finished already: this only orders the reads below after the thread's writes
  busy = false;
  ui->btn_cancel->hide();
  cancelShortcut_->setEnabled(false);
  const int status = thread->status();
  if (status == velmora::kJobCancelled) {
    showCancelled();
    return;
  }
  ui->pgb_progress->setValue(1000);
  const bool offerWhole = mode == velmora::kModePartial && status == velmora::kJobSucceeded;
  ui->btn_next->setVisible(offerWhole);
  if (offerWhole) mode = velmora::kModeRemaining;
  ui->btn_back->show();
  const float seconds = thread->seconds();
  // A job that failed before producing a picture leaves the input shown.
  failed_ = thread->result().empty();
  if (!failed_) image = thread->result().clone();
  foundKernelHeight_ = thread->foundKernelHeight();
  foundKernelWidth_ = thread->foundKernelWidth();
  QString caption = settingsCaption(", Reduce Noises");
  if (options.findBlurSize && knownKernelName.isEmpty() && foundKernelHeight_ == 0 &&
      status == velmora::kJobEstimationFailed)
    caption += tr("<br />No blur size found");
  caption += QString::asprintf("<br />Running time %.3fs", seconds);
  // A job that asked for the GPU and ran on the CPU says so where its time is.
  if (status != velmora::kJobGpuFailed && !thread->processorNotice().empty())
    caption += "<br />" + QString::fromStdString(thread->processorNotice()).toHtmlEscaped();
  ui->lbl_param->setText(caption);
  if (!failed_) kernel_ = thread->kernel().clone();
  showKernel();
  showImage(image);
  restoreScroll();
  ui->pgb_progress->hide();
  showResultControls(!failed_);
  emit jobEnded();
  emit jobStateChanged();
  if (status == velmora::kJobEstimationFailed)
    QMessageBox::information(this, tr("Error"), tr(velmora::kInsufficientInformation));
  else if (status != velmora::kJobSucceeded)
    reportFailure(status);
}

void ImageWidget::reportFailure(int status) {
  QString text;
  switch (status) {
    case velmora::kJobOutOfMemory:
      text = thread->memoryShortfall().empty()
                 ? tr("There is not enough memory to deblur this picture.")
                 : tr("There is not enough memory to deblur this picture: it %1.")
                       .arg(QString::fromStdString(thread->memoryShortfall()));
      break;
    case velmora::kJobInvalidInput:
      text = tr("This picture, region or blur size cannot be deblurred.\n\n"
                "Please choose a larger region or a smaller blur size.");
      break;
    case velmora::kJobGpuFailed:
      text = tr("The GPU failed during this job:\n%1\n\nLater jobs run on the CPU.")
                 .arg(QString::fromStdString(thread->processorNotice()));
      break;
    case velmora::kJobNoMode:
      text = tr("The job ended without a result.");
      break;
    default:
      text = tr("An internal error stopped the job.");
      break;
  }
  QMessageBox::information(this, tr("Error"), text);
}

void ImageWidget::on_btn_next_clicked() {
  if (busy || !thread || !jobs_ || jobs_->running()) return;
  ui->btn_back->hide();
  ui->btn_next->hide();
  WriteProgress(&progress, -1.0f);
  ui->pgb_progress->setValue(0);
  ui->pgb_progress->show();
  startJob();
}
