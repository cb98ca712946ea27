// The main window: the tool bar actions, the multiple-document area holding
// one SubMainWindow per opened picture, and the application-wide rule that
// only one job runs at a time.
#pragma once

#include <QMainWindow>

#include "app/jobcontroller.h"

class QMdiSubWindow;
class ImageWidget;
class SubMainWindow;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // Enables or disables every Run button and every result page's "Whole
  // Image >>" button of every document; the job controller's running state
  // drives it.
  void setRunEnabled(bool enable);
  bool jobRunning() const { return jobs_.running(); }
  JobController* jobController() { return &jobs_; }

  // Enables "Save Image" exactly when the active document shows a finished
  // result page.
  void updateSaveAction();
  bool saveEnabled() const;

  // The flows behind the actions, with the file name already chosen (an
  // empty name asks for one with the file dialog).
  SubMainWindow* loadImage(const QString& fileName);
  void runWizardFlow(const QString& fileName);
  // What the desktop hands the program at start (paths or file:// URIs):
  // none or one goes through the wizard as ever; several open as one
  // document each. A name that is no local file, or no picture, gets the
  // usual message and the others still open.
  void openFromDesktop(const QStringList& names);
  // Writes the page's picture; shows an "Error" box and returns false when
  // that is not possible.
  bool savePage(ImageWidget* page, const QString& fileName);

  SubMainWindow* activeDocument() const;
  QList<SubMainWindow*> documents() const;

 public slots:
  void on_actionLoad_Image_triggered();
  void on_actionSave_Image_triggered();
  void on_actionWizard_triggered();
  void on_actionAbout_triggered();
  void on_mdiArea_subWindowActivated(QMdiSubWindow* window);

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Pictures dropped on the window open as documents, one each.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QString askImageToOpen(QWidget* parent);
  // Where a file dialog starts: the folder of the picture in hand, else
  // the last folder used.
  QString startFolder() const;
  ImageWidget* pageToSave() const;
  void addDocument(QMdiSubWindow* subWindow, SubMainWindow* document);

  Ui::MainWindow* ui;
  JobController jobs_;
  QString lastFolder_;
};
