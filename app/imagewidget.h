// One tab of a document: the input page, where the region of interest is
// drawn, or a result page, which runs one job on its worker thread, shows
// its progress and then the restored picture with its caption.
#pragma once

#include <QImage>
#include <QWidget>
#include <opencv2/core.hpp>

#include "io/metadata.h"
#include "pipeline/engine.h"
#include "frontend/job.h"

class QProgressBar;
class QShortcut;
class QTimer;
class DocumentModel;
class ImageLabel;
class JobController;
class WorkingThread;

namespace Ui {
class ImageWidget;
}

class ImageWidget : public QWidget {
  Q_OBJECT

 public:
  explicit ImageWidget(QWidget* parent = nullptr);
  ~ImageWidget() override;

  // The application's job controller, which starts and ends this page's
  // jobs (not owned); set before startJob.
  void setJobController(JobController* jobs);
  // The document's model (not owned): its zoom, scroll position, region and
  // settings. A page without one shows its picture at 1.0x.
  void setModel(DocumentModel* model);
  // The input page: the mouse draws the region on it.
  void setInput(bool input);

  void setPicture(const QImage& picture);
  // Shows the picture at the document's zoom.
  void showPicture();
  void updateZoomControls();
  void restoreScroll();
  void startJob();
  void setRegionSelected(bool selected);
  void setRegionFromLabel(const QRect& rect);
  // Shows region as this page's (the input page's follows the model's).
  void setRegion(const velmora::DeblurRegion& r, bool selected);
  // Whether the region is large enough for the document's blur size; shows
  // "Too small" for a real but too small drag.
  bool checkRegion();
  QRect regionInLabel() const;

  // Places the converted picture on the page (the input page: the picture
  // itself; a result page: its result), in the screen's sRGB when the
  // document's picture has a colour profile.
  void showImage(const cv::Mat& bgr);
  // The metadata the document's results are saved with (none without a
  // document).
  const velmora::io::PictureMetadata& metadata() const;

  ImageLabel* label() const;
  QProgressBar* progressBar() const;
  QString caption() const;
  void setCaption(const QString& text);
  bool nextShown() const;
  void setNextEnabled(bool enable);
  // A finished result page whose job gave a picture.
  bool hasResult() const { return !isInput && !busy && !failed_ && !image.empty(); }
  // The last job of this page was stopped by the user.
  bool cancelled() const { return cancelled_; }
  // A result that was never saved (closing asks before discarding it).
  bool unsavedResult() const { return hasResult() && !saved_; }
  void markSaved() { saved_ = true; }
  // The kernel of the finished job (CV_32F), empty before.
  const cv::Mat& kernel() const { return kernel_; }
  // The blur size a job with options.findBlurSize found, height and width;
  // 0 before its end and when it found none.
  int foundKernelHeight() const { return foundKernelHeight_; }
  int foundKernelWidth() const { return foundKernelWidth_; }
  // Before and after: comparing shows the input in place of the result, or,
  // split, the input left of the divider (at `split` of the width) and the
  // result right of it.
  bool comparing() const;
  bool splitView() const;
  void setSplit(double split);

  // A kernel the user loaded, used by this page's run instead of an
  // estimate (set before startJob), and its file's name for the caption.
  cv::Mat knownKernel;
  QString knownKernelName;

  cv::Mat image;     // result pages: the input until the job ends, then the result
  cv::Mat rgbImage;  // the pixels behind `picture`
  DeblurSettings settings;
  velmora::JobOptions options;
  ProgressCell progress = -1.0f;
  WorkingThread* thread = nullptr;  // owned; kept for a following whole-image run
  bool isInput = false;
  bool regionSelected = false;
  velmora::DeblurRegion region;
  std::string mode;
  bool busy = false;
  QImage picture;

 public slots:
  void on_btn_zoomIn_clicked();
  void on_btn_zoomOut_clicked();
  void updateProgress();
  void on_btn_back_clicked();
  void on_btn_next_clicked();
  void on_btn_cancel_clicked();
  void on_btn_compare_toggled(bool checked);
  void on_chb_split_toggled(bool checked);
  void on_btn_saveKernel_clicked();

 signals:
  // "Input << Image" was pressed.
  void backRequested();
  // A job started or ended here: what can be saved or run may have changed.
  void jobStateChanged();
  // A job ended, not stopped by the user (with a result or an error).
  void jobEnded();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void finishJob();
  void onJobFinished(WorkingThread* finished);
  // Zooms in (steps > 0) or out, keeping the picture point under `at` (in
  // the scroll area's viewport) where it is; without one, the centre.
  void zoomBy(int steps, QPoint at = QPoint(-1, -1));
  void zoomTo(float z, QPoint at);
  void onPointerDragged(const QPoint& position, const QPoint& global, bool started, bool panOnly);
  void showKernel();
  void showResultControls(bool shown);
  QImage shownFrame(float zoom) const;
  float zoom() const;
  void refreshRegionOverlay();
  void showCancelled();
  QSizeF shownSize() const;
  QString settingsCaption(const char* noiseText) const;
  // Text in place of the picture ("Generating..."): a screen reader then
  // says the text, not "Picture".
  void showLabelText(const QString& text);
  void reportFailure(int status);

  Ui::ImageWidget* ui;
  QTimer* timer = nullptr;
  QShortcut* cancelShortcut_ = nullptr;
  JobController* jobs_ = nullptr;
  DocumentModel* model_ = nullptr;
  bool failed_ = false;
  bool cancelled_ = false;
  bool saved_ = false;
  cv::Mat inputImage_;  // what the job started from, for comparing
  cv::Mat inputRgb_;
  QImage inputPicture_;
  cv::Mat kernel_;
  int foundKernelHeight_ = 0;
  int foundKernelWidth_ = 0;
  double split_ = 0.5;
  QPoint panLast_;
};
