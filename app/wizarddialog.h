// The three-page deblurring wizard: an overview, the blur size with example
// pictures, and the region to deblur. Once finished it gives its choices;
// the caller hands them to the document.
#pragma once

#include <QDialog>
#include <QImage>

#include <opencv2/core.hpp>

#include "app/documentmodel.h"
#include "app/wizard_choices.h"
#include "frontend/job.h"

class QLabel;
class WizardImageLabel;

namespace Ui {
class WizardDialog;
}

class WizardDialog : public QDialog {
  Q_OBJECT

 public:
  explicit WizardDialog(QWidget* parent = nullptr);
  ~WizardDialog() override;

  void setPage(int index);
  int currentPage() const { return currentPage_; }

  // Shows the picture (as the document's input page shows it) scaled to fit
  // the region page; `full` is the picture itself, judged for clipped
  // highlights.
  void loadPicture(const QImage& shown, const cv::Mat& full);

  // What was chosen so far; once accepted, what the document is to take.
  WizardChoices choices() const;

  WizardImageLabel* label() const;

 private slots:
  void on_btn_prev_clicked();
  void on_btn_next_clicked();
  void on_btn_finish_clicked();
  // The choices follow the checked buttons, however they became checked.
  void on_rdb_kernelSmall_toggled(bool checked);
  void on_rdb_kernelMedium_toggled(bool checked);
  void on_rdb_kernelLarge_toggled(bool checked);
  void on_rdb_kernelAuto_toggled(bool checked);
  void on_btn_helpAuto_clicked();
  void on_rdb_complete_toggled(bool checked);
  void on_rdb_partial_toggled(bool checked);

 private:
  // Connected to the page links by hand (not by name).
  void on_items_label_linkActivated(const QString& link);
  void onSelectionReleased(const QRect& rect);
  void setRegionFromLabel(const QRect& rect);
  bool checkRegion() const;
  void resetRegion();
  void showRegionDrawing(bool shown);
  int checkedPreset() const;
  // The blur size the region rule holds the region to: the chosen one, or
  // with Auto the largest the region leaves room for.
  BlurBound regionBlurSize() const;

  Ui::WizardDialog* ui;
  QString helpAutoText_;
  QLabel* navLabels_[3] = {};
  QWidget* pages_[3] = {};
  int currentPage_ = 0;
  int kernelHeight_ = 19;
  int kernelWidth_ = 19;
  bool autoBlurSize_ = false;
  // Set by loadPicture: Finish turns Protect Highlights on, and the region
  // page says so.
  bool clippedHighlights_ = false;
  QImage picture_;
  bool regionSelected_ = false;
  bool wholeImage_ = true;
  velmora::DeblurRegion region_;
};
