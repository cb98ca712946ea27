#include "app/mainwindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QShortcut>
#include <QTabWidget>
#include <QUrl>

#include <algorithm>

#include "app/aboutdialog.h"
#include "app/gpu_state.h"
#include "app/imagewidget.h"
#include "app/picture_file.h"
#include "app/result_page.h"
#include "app/submainwindow.h"
#include "app/wizarddialog.h"
#include "src/cuda_device.h"
#include "ui_mainwindow.h"

namespace {

const char* const kOpenFilter =
    "Image Files (*.png *.bmp *.jpg *.jpeg *.tif *.tiff);;All files(*.*)";
const char* const kSaveFilter =
    "JPG File (*.jpg);;PNG File (*.png);;BMP File (*.bmp);;TIFF File (*.tif);;All files(*.*)";

// The extension a save filter stands for ("" for All files).
QString FilterExtension(const QString& filter) {
  const int star = filter.indexOf(QLatin1String("(*."));
  if (star < 0 || filter.contains(QLatin1String("*.*"))) return QString();
  return filter.mid(star + 3, filter.indexOf(')', star) - star - 3);
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), ui(new Ui::MainWindow) {
  ui->setupUi(this);
  setAcceptDrops(true);
  // Ctrl+W closes the picture shown, as its close button does.
  auto* closeDocument = new QShortcut(QKeySequence::Close, this);
  connect(closeDocument, &QShortcut::activated, ui->mdiArea, &QMdiArea::closeActiveSubWindow);
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
  if (!page->result() || !page->progressBar()->isHidden() || !page->result()->hasResult()) return nullptr;
  return page;
}

void MainWindow::updateSaveAction() { ui->actionSave_Image->setEnabled(pageToSave() != nullptr); }

bool MainWindow::saveEnabled() const { return ui->actionSave_Image->isEnabled(); }

QString MainWindow::startFolder() const {
  if (const SubMainWindow* document = activeDocument(); document && !document->filePath().isEmpty())
    return QFileInfo(document->filePath()).absolutePath();
  return lastFolder_.isEmpty() ? QDir::currentPath() : lastFolder_;
}

QString MainWindow::askImageToOpen(QWidget* parent) {
  const QString fileName = QFileDialog::getOpenFileName(parent, tr("Open Image"), startFolder(), tr(kOpenFilter));
  if (!fileName.isEmpty()) lastFolder_ = QFileInfo(fileName).absolutePath();
  return fileName;
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

void MainWindow::openFromDesktop(const QStringList& names) {
  QStringList files;
  for (const QString& name : names) {
    QString problem;
    const QString file = LocalFileOf(name, &problem);
    if (file.isEmpty())
      QMessageBox::information(this, tr("Error"), problem);
    else
      files << file;
  }
  if (names.size() <= 1) {
    if (names.isEmpty() || !files.isEmpty()) runWizardFlow(files.value(0));
    return;
  }
  for (const QString& file : files) loadImage(file);
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
  wizard->loadPicture(document->inputPage()->picture(), document->model()->picture());
  if (wizard->exec() != QDialog::Accepted) {
    delete subWindow;  // a cancelled wizard keeps nothing
    delete wizard;
    return;
  }
  const WizardChoices choices = wizard->choices();
  document->applyWizardChoices(choices);
  addDocument(subWindow, document);
  if (!jobs_.running() && choices.runNow) document->on_btn_run_clicked();
  delete wizard;
}

bool MainWindow::savePage(ImageWidget* page, const QString& fileName) {
  QString problem, notice;
  if (!page || !page->result() || !page->result()->hasResult())
    problem = tr("There is no result to save on this page.");
  if (problem.isEmpty()) problem = SavePicture(page->result()->image(), fileName, page->metadata(), &notice);
  if (problem.isEmpty()) {
    if (!notice.isEmpty()) QMessageBox::information(this, tr("Saved"), notice);
    return true;
  }
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
  // "<picture stem>_deblurred" in the picture's folder, in its own format
  // where it is one the program writes.
  const SubMainWindow* document = activeDocument();
  const QFileInfo picture(document ? document->filePath() : QString());
  QString extension = picture.suffix().toLower();
  if (extension == QLatin1String("jpeg")) extension = QStringLiteral("jpg");
  if (extension == QLatin1String("tiff")) extension = QStringLiteral("tif");
  const QStringList filters = tr(kSaveFilter).split(QStringLiteral(";;"));
  QString selected = filters.value(1);  // PNG
  for (const QString& f : filters)
    if (FilterExtension(f) == extension) selected = f;
  const QString suggested = QDir(startFolder()).filePath(
      (picture.completeBaseName().isEmpty() ? QStringLiteral("result") : picture.completeBaseName()) +
      QStringLiteral("_deblurred.") + FilterExtension(selected));
  QString fileName = QFileDialog::getSaveFileName(this, tr("Save Image"), suggested, tr(kSaveFilter), &selected);
  if (fileName.isEmpty()) return;
  // A typed name without an extension takes the chosen format's.
  if (QFileInfo(fileName).suffix().isEmpty() && !FilterExtension(selected).isEmpty())
    fileName += QLatin1Char('.') + FilterExtension(selected);
  lastFolder_ = QFileInfo(fileName).absolutePath();
  if (savePage(page, fileName)) page->result()->markSaved();
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
  // One question for all documents, not one each.
  int unsaved = 0;
  for (const SubMainWindow* document : documents()) unsaved += document->unsavedResults();
  if (!jobs_.running() && !AskToDiscard(this, unsaved)) {
    event->ignore();
    return;
  }
  if (jobs_.running()) {
    const auto answer = QMessageBox::question(this, tr("Job Running"), tr("A job is running. Stop it and close?"),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) {
      event->ignore();
      return;
    }
    jobs_.cancelAndWait();
    if (!AskToDiscard(this, unsaved)) {
      event->ignore();
      return;
    }
  }
  for (SubMainWindow* document : documents()) document->setDiscardAgreed(true);
  QMainWindow::closeEvent(event);
}
