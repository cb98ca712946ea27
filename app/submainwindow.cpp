#include "app/submainwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QShortcut>
#include <QToolTip>
#include <opencv2/imgproc.hpp>

#include <cmath>

#include "app/gpu_state.h"
#include "app/imagewidget.h"
#include "app/jobcontroller.h"
#include "app/picture_file.h"
#include "ui_submainwindow.h"

namespace {

constexpr int kParamsCollapsed = 25;
constexpr int kParamsExpanded = 160;

// The short name: the text after the last "/", else after the last "\".
QString ShortName(const QString& path) {
  if (path.contains('/')) return path.mid(path.lastIndexOf('/') + 1);
  if (path.contains('\\')) return path.mid(path.lastIndexOf('\\') + 1);
  return path;
}

// The text after the last "." anywhere in the path, lower case.
QString FileType(const QString& path) {
  const int dot = path.lastIndexOf('.');
  return dot < 0 ? QStringLiteral("unknown") : path.mid(dot + 1).toLower();
}

}  // namespace

SubMainWindow::SubMainWindow(QWidget* parent)
    : QWidget(parent),
      settings(model_.settings),
      options(model_.options),
      zoom(model_.zoom),
      scrollX(model_.scrollX),
      scrollY(model_.scrollY),
      regionSelected(model_.regionSelected),
      region(model_.region),
      ui(new Ui::SubMainWindow) {
  ui->setupUi(this);
  ui->tbl_info->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Fixed);
  ui->tbl_info->horizontalHeader()->resizeSection(0, 80);
  ui->tbl_info->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
  ui->grp_params->setMinimumHeight(kParamsCollapsed);
  // The information table is read, not edited: Tab passes it by instead of
  // cycling through its cells.
  ui->tbl_info->setFocusPolicy(Qt::NoFocus);
  ui->tbl_info->setTabKeyNavigation(false);
  // Ctrl+Return runs, wherever the focus is in the document.
  for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
    auto* run = new QShortcut(keys, this);
    run->setContext(Qt::WidgetWithChildrenShortcut);
    connect(run, &QShortcut::activated, this, [this] {
      if (ui->btn_run->isEnabled()) on_btn_run_clicked();
    });
  }
  ui->grp_processor->hide();
  ui->wdg_internal->hide();
  // The help texts appear on a click, not on hovering.
  const auto takeToolTip = [](QWidget* button, QString* text) {
    *text = button->toolTip();
    button->setToolTip(QString());
  };
  takeToolTip(ui->btn_helpKernel, &helpKernelText);
  takeToolTip(ui->btn_helpAuto, &helpAutoText);
  takeToolTip(ui->btn_helpWtdeconv, &helpSmoothnessText);
  takeToolTip(ui->btn_helpDering, &helpRingingText);
  takeToolTip(ui->btn_helpDenoise, &helpNoiseText);
  takeToolTip(ui->btn_helpHighlights, &helpHighlightsText);
  for (QWidget* w : {static_cast<QWidget*>(ui->lbl_height), static_cast<QWidget*>(ui->lbl_heightValue),
                     static_cast<QWidget*>(ui->hsl_height), static_cast<QWidget*>(ui->lbl_width),
                     static_cast<QWidget*>(ui->lbl_widthValue), static_cast<QWidget*>(ui->hsl_width)})
    w->hide();
  ui->rdb_gpu->setChecked(gpuAvailable);
  ui->rdb_cpu->setChecked(!gpuAvailable);
  (gpuAvailable ? ui->rdb_cpu : ui->rdb_gpu)->setEnabled(false);
  settings.useCpu = !gpuAvailable;
  showKernelChoice();
}

SubMainWindow::~SubMainWindow() {
  delete heightAnimation;
  delete blinkAnimation;
  delete ui;
}

QTabWidget* SubMainWindow::tabs() const { return ui->tabs; }

ImageWidget* SubMainWindow::currentPage() const {
  return qobject_cast<ImageWidget*>(ui->tabs->currentWidget());
}

bool SubMainWindow::openImage(const QString& fileName) {
  setWindowTitle(fileName);
  filePath_ = fileName;
  QString problem;
  cv::Mat picture = ReadPictureFile(fileName, &problem, &model_.metadata);
  if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) sub->resize(640, 480);
  if (picture.empty()) {
    QMessageBox::information(this, tr("Error"), problem);
    return false;
  }
  image = picture;
  const std::vector<unsigned char>& icc = model_.metadata.iccProfile();
  model_.colourSpace = icc.empty() ? QColorSpace()
                                   : QColorSpace::fromIccProfile(QByteArray(
                                         reinterpret_cast<const char*>(icc.data()), static_cast<qsizetype>(icc.size())));
  const QString values[5] = {ShortName(fileName), FileType(fileName),
                             QString::asprintf("%dpx", image.cols), QString::asprintf("%dpx", image.rows),
                             gpuAvailable ? QStringLiteral("GPU") : QStringLiteral("CPU")};
  for (int row = 0; row < 5; ++row) ui->tbl_info->setItem(row, 1, new QTableWidgetItem(values[row]));

  auto* page = new ImageWidget;
  page->setInput(true);
  page->setCaption(tr("Input Image"));
  page->progressBar()->hide();
  addPage(page, tr("Input"));
  inputPage = page;
  page->showImage(image);
  return true;
}

void SubMainWindow::setJobController(JobController* jobs) {
  jobs_ = jobs;
  for (int i = 0; i < ui->tabs->count(); ++i)
    if (auto* page = qobject_cast<ImageWidget*>(ui->tabs->widget(i))) page->setJobController(jobs);
}

void SubMainWindow::addPage(ImageWidget* page, const QString& title) {
  page->setJobController(jobs_);
  page->setModel(&model_);
  connect(page, &ImageWidget::backRequested, this, [this] {
    if (inputPage) ui->tabs->setCurrentWidget(inputPage);
  });
  connect(page, &ImageWidget::jobStateChanged, this, &SubMainWindow::pagesChanged);
  // A tab's tooltip follows its job: an Auto job's size is known at its end.
  connect(page, &ImageWidget::jobStateChanged, this, [this, page] {
    if (const int index = ui->tabs->indexOf(page); index >= 0 && !page->isInput)
      ui->tabs->setTabToolTip(index, jobSummary(page));
  });
  connect(page, &ImageWidget::jobEnded, this, &SubMainWindow::blinkParams);
  ui->tabs->addTab(page, title);
  ui->tabs->setCurrentWidget(page);
}

int SubMainWindow::unsavedResults() const {
  int count = 0;
  for (int i = 0; i < ui->tabs->count(); ++i)
    if (auto* page = qobject_cast<ImageWidget*>(ui->tabs->widget(i)); page && page->unsavedResult()) ++count;
  return count;
}

// Asks the question the program asks for all documents at once.
bool AskToDiscard(QWidget* parent, int unsaved) {
  if (unsaved == 0) return true;
  QMessageBox box(QMessageBox::Question, QCoreApplication::translate("SubMainWindow", "Unsaved Results"),
                  unsaved == 1 ? QCoreApplication::translate("SubMainWindow", "Discard 1 unsaved result?")
                               : QCoreApplication::translate("SubMainWindow", "Discard %1 unsaved results?").arg(unsaved),
                  QMessageBox::Discard | QMessageBox::Cancel, parent);
  box.setDefaultButton(QMessageBox::Cancel);
  return box.exec() == QMessageBox::Discard;
}

bool SubMainWindow::discardUnsavedToClose() { return discardAgreed_ || AskToDiscard(this, unsavedResults()); }

bool SubMainWindow::stopJobToClose(ImageWidget* page) {
  const bool running = page ? page->busy : hasRunningJob();
  if (!running) return true;
  const auto answer = QMessageBox::question(this, tr("Job Running"), tr("A job is running. Stop it and close?"),
                                            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  if (answer != QMessageBox::Yes) return false;
  if (jobs_) jobs_->cancelAndWait();
  return true;
}

void SubMainWindow::setKernelPreset(int index) {
  QWidget* const sizeControls[6] = {ui->lbl_height, ui->lbl_heightValue, ui->hsl_height,
                                    ui->lbl_width,  ui->lbl_widthValue,  ui->hsl_width};
  const bool custom = index == 3;
  // Auto leaves the size alone: each job is given its own bound at Run.
  if (index < 3) settings.kernelHeight = settings.kernelWidth = velmora::kBlurPresets[index];
  if (presetFromWizard_) return;
  for (QWidget* w : sizeControls) w->setVisible(custom);
  ui->grp_kernel->setMinimumHeight(custom ? 160 : 90);
}

void SubMainWindow::checkKernelPresetButton(int index) {
  QRadioButton* const buttons[5] = {ui->rdb_kernelSmall, ui->rdb_kernelMedium, ui->rdb_kernelLarge,
                                    ui->rdb_kernelCustom, ui->rdb_kernelAuto};
  presetFromWizard_ = true;
  buttons[index]->setChecked(true);
  presetFromWizard_ = false;
}

void SubMainWindow::syncControls() {
  ui->hsl_height->setValue(settings.kernelHeight / 2);
  ui->hsl_width->setValue(settings.kernelWidth / 2);
  (std::fabs(settings.gamma - 1.0f) < 0.001f ? ui->rdb_gamma_1_0 : ui->rdb_gamma_2_2)->setChecked(true);
  ui->hsl_tscale->setValue(static_cast<int>((settings.tscale + 1e-6) * 100));
  ui->hsl_wtdeconv->setValue(static_cast<int>((settings.smoothness + 1e-6) * 100));
  ui->chb_dering->setChecked(settings.reduceRinging != 0);
  ui->chb_denoise->setChecked(settings.reduceNoise != 0);
  ui->chb_highlights->setChecked(options.highlights == velmora::Highlights::kModel);
  (options.estimator == velmora::KernelEstimator::kSharp ? ui->rdb_estimatorSharp
                                                         : ui->rdb_estimatorClassic)
      ->setChecked(true);
}

void SubMainWindow::on_rdb_kernelSmall_toggled(bool checked) {
  if (checked) setKernelPreset(0);
}
void SubMainWindow::on_rdb_kernelMedium_toggled(bool checked) {
  if (checked) setKernelPreset(1);
}
void SubMainWindow::on_rdb_kernelLarge_toggled(bool checked) {
  if (checked) setKernelPreset(2);
}
void SubMainWindow::on_rdb_kernelCustom_toggled(bool checked) {
  if (checked) setKernelPreset(3);
}
// Also called unchecked, when another size is chosen: that one is then given.
void SubMainWindow::on_rdb_kernelAuto_toggled(bool checked) {
  options.findBlurSize = checked;
  if (checked) setKernelPreset(kAutoPreset);
}

void SubMainWindow::on_hsl_height_valueChanged(int value) {
  settings.kernelHeight = 2 * value + 1;
  ui->lbl_heightValue->setText(QString::asprintf("%d px", settings.kernelHeight));
}

void SubMainWindow::on_hsl_width_valueChanged(int value) {
  settings.kernelWidth = 2 * value + 1;
  ui->lbl_widthValue->setText(QString::asprintf("%d px", settings.kernelWidth));
}

void SubMainWindow::on_rdb_gamma_1_0_toggled(bool checked) {
  if (checked) settings.gamma = 1.0f;
}
void SubMainWindow::on_rdb_gamma_2_2_toggled(bool checked) {
  if (checked) settings.gamma = 2.2f;
}

void SubMainWindow::on_hsl_tscale_valueChanged(int value) {
  settings.tscale = value / 100.0f;
  ui->lbl_tscaleValue->setText(QString::asprintf("%.2f", settings.tscale));
}

void SubMainWindow::on_hsl_wtdeconv_valueChanged(int value) {
  settings.smoothness = value / 100.0f;
  ui->lbl_wtdeconvValue->setText(QString::asprintf("%.2f", settings.smoothness));
}

void SubMainWindow::on_chb_dering_stateChanged(int state) {
  settings.reduceRinging = state == Qt::Checked ? 1 : 0;
}

void SubMainWindow::on_chb_denoise_stateChanged(int state) {
  settings.reduceNoise = state == Qt::Checked ? 1 : 0;
}

// An option of the job, not of the settings record: the engine's settings,
// and with them every result made with the box off, stay as they were.
void SubMainWindow::on_chb_highlights_toggled(bool checked) {
  options.highlights = checked ? velmora::Highlights::kModel : velmora::Highlights::kKeep;
}

void SubMainWindow::on_btn_loadKernel_clicked() {
  const QString fileName = QFileDialog::getOpenFileName(
      this, tr("Load Kernel"), QString(),
      tr("Kernel pictures (*.png *.bmp *.tif *.tiff *.jpg *.jpeg);;All files(*.*)"));
  if (fileName.isEmpty()) return;
  QString problem;
  const cv::Mat kernel = LoadKernelPicture(fileName, &problem);
  if (kernel.empty()) {
    QMessageBox::information(this, tr("Error"), problem);
    return;
  }
  setKnownKernel(kernel, QFileInfo(fileName).fileName());
}

void SubMainWindow::on_btn_clearKernel_clicked() { setKnownKernel(cv::Mat(), QString()); }

void SubMainWindow::setKnownKernel(const cv::Mat& kernel, const QString& name) {
  model_.knownKernel = kernel.clone();
  model_.knownKernelName = kernel.empty() ? QString() : name;
  showKernelChoice();
}

// With a kernel loaded the estimator has no say; the panel shows which file
// the next Run uses.
void SubMainWindow::showKernelChoice() {
  const bool known = !model_.knownKernel.empty();
  ui->lbl_kernelFile->setText(known ? tr("Kernel: %1").arg(model_.knownKernelName) : QString());
  ui->lbl_kernelFile->setToolTip(ui->lbl_kernelFile->text());
  ui->btn_clearKernel->setEnabled(known);
  ui->rdb_estimatorClassic->setEnabled(!known);
  ui->rdb_estimatorSharp->setEnabled(!known);
}

// The choice follows the checked button, however it became checked.
void SubMainWindow::on_rdb_estimatorSharp_toggled(bool checked) {
  options.estimator = checked ? velmora::KernelEstimator::kSharp : velmora::KernelEstimator::kClassic;
}

void SubMainWindow::on_btn_helpWtdeconv_clicked() { QToolTip::showText(QCursor::pos(), helpSmoothnessText); }
void SubMainWindow::on_btn_helpDering_clicked() { QToolTip::showText(QCursor::pos(), helpRingingText); }
void SubMainWindow::on_btn_helpDenoise_clicked() { QToolTip::showText(QCursor::pos(), helpNoiseText); }
void SubMainWindow::on_btn_helpHighlights_clicked() { QToolTip::showText(QCursor::pos(), helpHighlightsText); }
void SubMainWindow::on_btn_helpKernel_clicked() { QToolTip::showText(QCursor::pos(), helpKernelText); }
void SubMainWindow::on_btn_helpAuto_clicked() { QToolTip::showText(QCursor::pos(), helpAutoText); }

void SubMainWindow::on_btn_advance_clicked() {
  if (advancedShown)
    collapseParams();
  else
    expandParams();
}

void SubMainWindow::animateParamsHeight(int endValue) {
  if (!heightAnimation) heightAnimation = new QPropertyAnimation(ui->grp_params, "minimumHeight");
  heightAnimation->stop();
  heightAnimation->setDuration(300);
  heightAnimation->setStartValue(ui->grp_params->minimumHeight());
  heightAnimation->setEndValue(endValue);
  heightAnimation->start();
}

void SubMainWindow::expandParams() {
  advancedShown = true;
  ui->btn_advance->setArrowType(Qt::UpArrow);
  ui->btn_advance->setAccessibleName(tr("Show fewer parameters"));
  animateParamsHeight(kParamsExpanded);
}

void SubMainWindow::collapseParams() {
  advancedShown = false;
  ui->btn_advance->setArrowType(Qt::DownArrow);
  ui->btn_advance->setAccessibleName(tr("Show more parameters"));
  animateParamsHeight(kParamsCollapsed);
}

void SubMainWindow::blinkParams() {
  if (blinkDone) return;
  blinkDone = true;
  expandParams();
  if (!blinkAnimation) blinkAnimation = new QPropertyAnimation(this, "paramsBlink");
  blinkAnimation->setDuration(1500);
  blinkAnimation->setKeyValueAt(0.0, 0);
  blinkAnimation->setKeyValueAt(0.3, 255);
  blinkAnimation->setKeyValueAt(0.5, -1);
  blinkAnimation->setKeyValueAt(0.8, 255);
  blinkAnimation->setKeyValueAt(1.0, -1);
  blinkAnimation->start();
}

void SubMainWindow::setParamsBlink(int value) {
  if (value == -1) {
    ui->grp_params->setStyleSheet(QStringLiteral("::title{ color:blue }"));
    return;
  }
  blinkValue = value;
  ui->grp_params->setStyleSheet(
      QStringLiteral("::title{ color:blue }QGroupBox{border:2px solid rgba(255, 0, 0,") +
      QString::number(value) + QStringLiteral(");border-radius: 5px;}"));
}

void SubMainWindow::on_tabs_currentChanged(int index) {
  if (!isVisible()) return;
  emit pagesChanged();
  auto* page = qobject_cast<ImageWidget*>(ui->tabs->widget(index));
  if (!page) return;
  if (!page->busy) page->showPicture();
  page->updateZoomControls();
}

void SubMainWindow::on_tabs_tabCloseRequested(int index) {
  if (ui->tabs->tabText(index) == QLatin1String("Input")) return;
  auto* page = qobject_cast<ImageWidget*>(ui->tabs->widget(index));
  if (page && !stopJobToClose(page)) return;
  ui->tabs->removeTab(index);
  delete page;
  emit pagesChanged();
}

void SubMainWindow::on_rdb_cpu_toggled(bool checked) {
  if (checked) settings.useCpu = true;
}
void SubMainWindow::on_rdb_gpu_toggled(bool checked) {
  if (checked) settings.useCpu = false;
}

void SubMainWindow::on_btn_run_clicked() {
  if (!jobs_ || jobs_->running()) return;  // one job at a time in the whole application
  const bool estimating = model_.knownKernel.empty();
  const bool findSize = estimating && options.findBlurSize;
  DeblurSettings jobSettings = settings;
  if (findSize) {
    // The largest size the search may find is what the job's own picture,
    // the region or the whole, leaves room for.
    const BlurBound bound = AutoBlurBound(image.rows, image.cols, regionSelected ? &region : nullptr);
    if (bound.height == 0 || bound.width == 0) {
      QMessageBox::information(this, tr("Error"),
                               tr("This %1 x %2 picture is too small for any blur size: each side must be "
                                  "at least 9 pixels, three times the smallest blur size (3).")
                                   .arg(image.cols)
                                   .arg(image.rows));
      return;
    }
    jobSettings.kernelHeight = bound.height;
    jobSettings.kernelWidth = bound.width;
  }
  // A whole-picture estimation needs room for three blur sizes a side.
  if (estimating && !regionSelected &&
      !velmora::BlurFitsPicture(image.rows, image.cols, jobSettings.kernelHeight, jobSettings.kernelWidth)) {
    QMessageBox::information(this, tr("Error"),
                             tr("The blur size %1 x %2 is too large for this %3 x %4 picture: each side "
                                "must be at least three blur sizes. The largest blur size it allows is "
                                "%5 x %6.")
                                 .arg(jobSettings.kernelHeight)
                                 .arg(jobSettings.kernelWidth)
                                 .arg(image.cols)
                                 .arg(image.rows)
                                 .arg(velmora::LargestBlurSide(image.rows))
                                 .arg(velmora::LargestBlurSide(image.cols)));
    return;
  }
  auto* page = new ImageWidget;
  ++resultCount;
  const QString title = QString::asprintf("Result%d - %s", resultCount, settings.useCpu ? "CPU" : "GPU");
  addPage(page, title);
  page->image = image.clone();
  page->settings = jobSettings;
  page->options = options;
  page->options.findBlurSize = findSize;
  if (!model_.knownKernel.empty()) {
    // A loaded kernel restores the whole picture, as the tool's --kernel.
    page->knownKernel = model_.knownKernel;
    page->knownKernelName = model_.knownKernelName;
    page->mode = velmora::kModeRemaining;
  } else {
    page->regionSelected = regionSelected;
    if (regionSelected) page->region = region;
    page->mode = regionSelected ? velmora::kModePartial : velmora::kModeComplete;
  }
  ui->tabs->setTabToolTip(ui->tabs->indexOf(page), jobSummary(page));
  page->startJob();
  page->updateZoomControls();
}

QString SubMainWindow::jobSummary(const ImageWidget* page) const {
  const DeblurSettings& s = page->settings;
  QStringList lines;
  if (page->options.findBlurSize && page->foundKernelHeight() > 0)
    lines << tr("Blur size found: %1 x %2 px").arg(page->foundKernelHeight()).arg(page->foundKernelWidth());
  else if (page->options.findBlurSize)
    lines << tr("Blur size: Auto, at most %1 x %2 px").arg(s.kernelHeight).arg(s.kernelWidth);
  else if (page->knownKernelName.isEmpty())
    lines << tr("Blur size %1 x %2 px").arg(s.kernelHeight).arg(s.kernelWidth);
  if (page->regionSelected)
    lines << tr("Region %1 x %2 % of the picture at %3, %4 %")
                 .arg(qRound(page->region.width * 100))
                 .arg(qRound(page->region.height * 100))
                 .arg(qRound(page->region.x * 100))
                 .arg(qRound(page->region.y * 100));
  else
    lines << tr("Whole picture");
  if (!page->knownKernelName.isEmpty())
    lines << tr("Kernel: %1").arg(page->knownKernelName);
  else
    lines << (page->options.estimator == velmora::KernelEstimator::kSharp ? tr("Estimator: Sharp")
                                                                          : tr("Estimator: Classic"));
  lines << tr("Smoothness %1").arg(QString::asprintf("%.2f", s.smoothness));
  lines << (s.reduceRinging ? tr("Reduce Ringing: on") : tr("Reduce Ringing: off"));
  lines << (s.reduceNoise ? tr("Reduce Noise: on") : tr("Reduce Noise: off"));
  lines << (page->options.highlights == velmora::Highlights::kModel ? tr("Protect Highlights: on")
                                                                      : tr("Protect Highlights: off"));
  lines << (s.useCpu ? tr("Processor: CPU") : tr("Processor: GPU"));
  return lines.join(QLatin1Char('\n'));
}

void SubMainWindow::setRunControlsEnabled(bool enable) {
  ui->btn_run->setEnabled(enable);
  for (int i = 0; i < ui->tabs->count(); ++i)
    if (auto* page = qobject_cast<ImageWidget*>(ui->tabs->widget(i))) page->setNextEnabled(enable);
}

bool SubMainWindow::runEnabled() const { return ui->btn_run->isEnabled(); }

bool SubMainWindow::hasRunningJob() const {
  for (int i = 0; i < ui->tabs->count(); ++i)
    if (auto* page = qobject_cast<ImageWidget*>(ui->tabs->widget(i)); page && page->busy) return true;
  return false;
}

void SubMainWindow::closeEvent(QCloseEvent* event) {
  if (!stopJobToClose() || !discardUnsavedToClose()) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}
