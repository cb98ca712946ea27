// The document window of one picture: its deblurring settings, the region of
// interest, the view state shared by its pages, and the tabs holding the
// input page and one result page per press of Run.
#pragma once

#include <QWidget>
#include <opencv2/core.hpp>

#include <functional>

#include "app/documentmodel.h"
#include "app/jobcontroller.h"
#include "app/wizard_choices.h"
#include "pipeline/engine.h"
#include "frontend/job.h"

class QPropertyAnimation;
class QTabWidget;
class ImageWidget;
class JobController;

namespace Ui {
class SubMainWindow;
}

// Asks "Discard N unsaved results?" (Discard / Cancel) when unsaved > 0;
// true to go on closing.
bool AskToDiscard(QWidget* parent, int unsaved);

class SubMainWindow : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int paramsBlink READ paramsBlink WRITE setParamsBlink)

 public:
  explicit SubMainWindow(QWidget* parent = nullptr);
  ~SubMainWindow() override;

  // The application's job controller (not owned), handed to every page.
  void setJobController(JobController* jobs);

  // Reads the picture; shows an "Error" box and returns false when it cannot
  // be read or is smaller than 200 x 200.
  bool openImage(const QString& fileName);

  // The file the picture came from.
  const QString& filePath() const { return filePath_; }

  // Result pages whose result was never saved.
  int unsavedResults() const;
  // Asks "Discard N unsaved results?" when there are any; false on Cancel.
  // Once discarding was agreed for the whole program, the document closes
  // without asking.
  bool discardUnsavedToClose();
  void setDiscardAgreed(bool agreed) { discardAgreed_ = agreed; }

  // Asks "A job is running. Stop it and close?" when one of this document's
  // pages (or page, when given) runs a job; on Yes stops it and waits.
  // False when the user keeps it running.
  bool stopJobToClose(ImageWidget* page = nullptr);

  // Takes what the wizard was told: its blur size, parameters and region.
  void applyWizardChoices(const WizardChoices& choices);

  // The blur-size choice, a BlurPreset.
  void setKernelPreset(int index);
  // Writes the settings into the controls.
  void syncControls();
  // Checks the blur-size button of the choice (as setKernelPreset counts
  // them) without running its clicked slot.
  void checkKernelPresetButton(int index);

  void blinkParams();
  void setParamsBlink(int value);
  int paramsBlink() const { return blinkValue; }
  // The parameter panel is opened.
  bool advancedShown() const { return advancedShown_; }

  // Every Run control of this document: its Run button and the pages'
  // "Whole Image >>" buttons.
  void setRunControlsEnabled(bool enable);
  bool runEnabled() const;
  // True while any of its pages runs a job.
  bool hasRunningJob() const;

  QTabWidget* tabs() const;
  ImageWidget* currentPage() const;
  // The page the picture was opened on (owned by the tab widget).
  ImageWidget* inputPage() const { return inputPage_; }

  // The state the pages share; the pages are given it.
  DocumentModel* model() { return &model_; }
  const DocumentModel* model() const { return &model_; }

 public slots:
  // The settings follow the checked buttons, however they became checked
  // (mouse, keyboard, a screen reader's toggle, the wizard).
  void on_rdb_kernelSmall_toggled(bool checked);
  void on_rdb_kernelMedium_toggled(bool checked);
  void on_rdb_kernelLarge_toggled(bool checked);
  void on_rdb_kernelCustom_toggled(bool checked);
  // Auto: each job finds the blur size within what its picture allows.
  void on_rdb_kernelAuto_toggled(bool checked);
  void on_hsl_height_valueChanged(int value);
  void on_hsl_width_valueChanged(int value);
  void on_rdb_gamma_1_0_toggled(bool checked);
  void on_rdb_gamma_2_2_toggled(bool checked);
  void on_hsl_tscale_valueChanged(int value);
  void on_hsl_wtdeconv_valueChanged(int value);
  void on_chb_dering_stateChanged(int state);
  void on_chb_denoise_stateChanged(int state);
  void on_chb_highlights_toggled(bool checked);
  void on_rdb_estimatorSharp_toggled(bool checked);
  void on_btn_loadKernel_clicked();
  void on_btn_clearKernel_clicked();
  void on_btn_advance_clicked();
  void on_tabs_currentChanged(int index);
  void on_tabs_tabCloseRequested(int index);
  void on_rdb_cpu_toggled(bool checked);
  void on_rdb_gpu_toggled(bool checked);
  void on_btn_run_clicked();

 signals:
  // A page's job started or ended, or the shown page changed: what can be
  // saved may have changed.
  void pagesChanged();

 protected:
  // Offers to stop a running job first.
  void closeEvent(QCloseEvent* event) override;

 private:
  QList<ImageWidget*> pages() const;
  void expandParams();
  void addPage(ImageWidget* page, const QString& title);
  void showKernelChoice();
  void collapseParams();
  void animateParamsHeight(int endValue);
  // The panel's controls change one field of the model at a time.
  void changeSettings(const std::function<void(DeblurSettings&)>& change);
  void changeOptions(const std::function<void(velmora::JobOptions&)>& change);

  DocumentModel model_;
  Ui::SubMainWindow* ui;
  ImageWidget* inputPage_ = nullptr;
  int resultCount_ = 0;
  bool advancedShown_ = false;
  JobController* jobs_ = nullptr;
  // Set while the wizard checks a preset button: the size controls keep
  // their visibility then.
  bool presetFromWizard_ = false;
  bool discardAgreed_ = false;
  QString filePath_;
  bool blinkDone = false;
  int blinkValue = -1;
  QPropertyAnimation* heightAnimation = nullptr;
  QPropertyAnimation* blinkAnimation = nullptr;
};
