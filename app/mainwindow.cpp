#include "app/mainwindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QTabWidget>
#include <QUrl>

#include <algorithm>

#include "app/aboutdialog.h"
#include "app/gpu_state.h"
#include "app/imagewidget.h"
#include "app/picture_file.h"
#include "app/submainwindow.h"
#include "app/wizarddialog.h"
#include "src/cuda_device.h"
#include "ui_mainwindow.h"

namespace {

const char* const kOpenFilter = "Image Files (*.png *.bmp *.jpg);;All files(*.*)";
const char* const kSaveFilter = "JPG File (*.jpg);;PNG File (*.png);;BMP File (*.bmp);;All files(*.*)";

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::MainWindow) {
  ui->setupUi(this);
  setAcceptDrops(true);
  connect(&jobs_, &JobController::runningChanged, this, [this](bool running) {
    setRunEnabled(!running);
    updateSaveAction();
  });
  if (!gpuAvailable) {
    QMessageBox::warning(this, tr("CUDA Not Found"),
                         tr("Your graphic card does not support CUDA.\n\nCannot run algorithm on GPU."));
  } else if (cufftMissing) {
    QMessageBox::warning(this, tr("DLL Not Found"),
                         tr("Your graphic card supports CUDA, but %1 not found.\n\nCannot run algorithm "
                            "on GPU, please install CUDA Toolkit.")
                             .arg(QString::fromLocal8Bit(velmora::gpu::CufftLibraryName())));
    gpuAvailable = false;
  }
}

MainWindow::~MainWindow() { delete ui; }

void MainWindow::setRunEnabled(bool enable) {
  for (SubMainWindow* document : documents()) document->setRunControlsEnabled(enable);
}

QList<SubMainWindow*> MainWindow::documents() const {
  QList<SubMainWindow*> list;
  for (QMdiSubWindow* sub : ui->mdiArea->subWindowList())
    if (auto* document = qobject_cast<SubMainWindow*>(sub->widget())) list.append(document);
  return list;
}

SubMainWindow* MainWindow::activeDocument() const {
  // The current sub-window stays known while a dialog holds the focus; the
  // active one does not.
  QMdiSubWindow* sub = ui->mdiArea->currentSubWindow();
  return sub ? qobject_cast<SubMainWindow*>(sub->widget()) : nullptr;
}

ImageWidget* MainWindow::pageToSave() const {
  SubMainWindow* document = activeDocument();
  if (!document || document->tabs()->count() <= 1) return nullptr;
  const int index = document->tabs()->currentIndex();
  ImageWidget* page = document->currentPage();
  if (!page || document->tabs()->tabText(index) == QLatin1String("Input")) return nullptr;
  if (!page->progressBar()->isHidden() || !page->hasResult()) return nullptr;
  return page;
}

void MainWindow::updateSaveAction() { ui->actionSave_Image->setEnabled(pageToSave() != nullptr); }

bool MainWindow::saveEnabled() const { return ui->actionSave_Image->isEnabled(); }

QString MainWindow::askImageToOpen(QWidget* parent) {
  return QFileDialog::getOpenFileName(parent, tr("Open Image"), QDir::currentPath(), tr(kOpenFilter));
}

void MainWindow::addDocument(QMdiSubWindow* subWindow, SubMainWindow* document) {
  subWindow->setAttribute(Qt::WA_DeleteOnClose);
  ui->mdiArea->addSubWindow(subWindow);
  connect(document, &SubMainWindow::pagesChanged, this, &MainWindow::updateSaveAction);
  document->setRunControlsEnabled(!jobs_.running());
  document->show();
  document->setWindowState(Qt::WindowMaximized);
  subWindow->showMaximized();
  ui->mdiArea->setActiveSubWindow(subWindow);
  updateSaveAction();
}

SubMainWindow* MainWindow::loadImage(const QString& chosen) {
  const QString fileName = chosen.isEmpty() ? askImageToOpen(this) : chosen;
  if (fileName.isEmpty()) return nullptr;
  auto* subWindow = new QMdiSubWindow;
  auto* document = new SubMainWindow;
  document->setJobController(&jobs_);
  subWindow->setWidget(document);
  if (!document->openImage(fileName)) {
    delete subWindow;  // and the document with it
    return nullptr;
  }
  addDocument(subWindow, document);
  return document;
}

void MainWindow::runWizardFlow(const QString& chosen) {
  auto* wizard = new WizardDialog(this);
  const QString fileName = chosen.isEmpty() ? askImageToOpen(wizard) : chosen;
  if (fileName.isEmpty()) {
    delete wizard;
    return;
  }
  auto* subWindow = new QMdiSubWindow;
  auto* document = new SubMainWindow;
  document->setJobController(&jobs_);
  subWindow->setWidget(document);
  if (!document->openImage(fileName)) {
    delete subWindow;
    delete wizard;
    return;
  }
  subWindow->setAttribute(Qt::WA_DeleteOnClose);
  wizard->target = document;
  wizard->loadPicture();
  if (wizard->exec() != QDialog::Accepted) {
    delete subWindow;  // a cancelled wizard keeps nothing
    delete wizard;
    return;
  }
  addDocument(subWindow, document);
  if (!jobs_.running() && wizard->currentPage == 2) document->on_btn_run_clicked();
  delete wizard;
}

bool MainWindow::savePage(ImageWidget* page, const QString& fileName) {
  QString problem;
  if (!page || !page->hasResult())
    problem = tr("There is no result to save on this page.");
  else
    problem = SavePicture(page->image, fileName);
  if (problem.isEmpty()) return true;
  QMessageBox::information(this, tr("Error"), problem);
  return false;
}

void MainWindow::on_actionLoad_Image_triggered() { loadImage(QString()); }

void MainWindow::on_actionSave_Image_triggered() {
  // The page is chosen before the dialog: while it is open Qt may report no
  // active sub-window, and the page may not outlive it.
  QPointer<ImageWidget> page = pageToSave();
  if (!page) {
    QMessageBox::information(this, tr("Error"), tr("There is no result to save on this page."));
    return;
  }
  const QString fileName =
      QFileDialog::getSaveFileName(this, tr("Save Image"), QDir::currentPath(), tr(kSaveFilter));
  if (fileName.isEmpty()) return;
  savePage(page, fileName);
}

void MainWindow::on_actionWizard_triggered() { runWizardFlow(QString()); }

void MainWindow::on_actionAbout_triggered() {
  auto* about = new AboutDialog(this);
  about->exec();
  delete about;
}

void MainWindow::on_mdiArea_subWindowActivated(QMdiSubWindow*) { updateSaveAction(); }

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  const bool files = !urls.isEmpty() && std::all_of(urls.begin(), urls.end(), [](const QUrl& u) { return u.isLocalFile(); });
  if (files) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  event->acceptProposedAction();
  // Each opens or is refused with the messages of the open dialog's flow.
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) loadImage(url.toLocalFile());
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (jobs_.running()) {
    const auto answer = QMessageBox::question(this, tr("Job Running"), tr("A job is running. Stop it and close?"),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) {
      event->ignore();
      return;
    }
    jobs_.cancelAndWait();
  }
  QMainWindow::closeEvent(event);
}
