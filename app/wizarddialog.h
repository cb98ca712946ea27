// The three-page deblurring wizard: an overview, the blur size with example
// pictures, and the region to deblur. Finish writes the choices into its
// target document.
#pragma once

#include <QDialog>
#include <QImage>

#include "app/documentmodel.h"
#include "frontend/job.h"

class QLabel;
class SubMainWindow;
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
  // Shows the target's input picture, scaled to fit the region page.
  void loadPicture();

  void setRegionFromLabel(const QRect& rect);
  bool checkRegion() const;
  void resetRegion();
  WizardImageLabel* label() const;

  int kernelHeight = 19;
  int kernelWidth = 19;
  // Auto: the job finds the blur size; kernelHeight and kernelWidth then
  // keep the last size chosen, for the document's other choices.
  bool autoBlurSize = false;
  float gamma = 1.0f;
  float smoothness = 0.04f;
  int reduceRinging = 0;
  int reduceNoise = 0;
  // The picture has clipped lamps or highlights (set by loadPicture):
  // Finish turns Protect Highlights on, and the region page says so.
  bool clippedHighlights = false;
  QLabel* navLabels[3] = {};
  QWidget* pages[3] = {};
  QImage picture;
  int currentPage = 0;
  bool regionSelected = false;
  bool wholeImage = true;
  velmora::DeblurRegion region;
  SubMainWindow* target = nullptr;  // not owned

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
  void showRegionDrawing(bool shown);
  int checkedPreset() const;
  // The blur size the region rule holds the region to: the chosen one, or
  // with Auto the largest the region leaves room for.
  BlurBound regionBlurSize() const;

  Ui::WizardDialog* ui;
  QString helpAutoText_;
};
