#include "app/submainwindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPropertyAnimation>
#include <QShortcut>
#include <QToolTip>

#include <algorithm>
#include <cmath>

#include "app/gpu_state.h"
#include "app/imagewidget.h"
#include "app/jobcontroller.h"
#include "app/next_job.h"
#include "app/picture_file.h"
#include "app/picture_view.h"
#include "app/result_page.h"
#include "ui_submainwindow.h"

namespace {

constexpr int kParamsCollapsed = 25;
constexpr int kParamsExpanded = 160;

}  // namespace

SubMainWindow::SubMainWindow(QWidget* parent) : QWidget(parent), ui(new Ui::SubMainWindow) {
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
  for (QAbstractButton* help : {ui->btn_helpKernel, ui->btn_helpAuto, ui->btn_helpWtdeconv, ui->btn_helpDering,
                                ui->btn_helpDenoise, ui->btn_helpHighlights}) {
    const QString text = help->toolTip();
    help->setToolTip(QString());
    connect(help, &QAbstractButton::clicked, this, [text] { QToolTip::showText(QCursor::pos(), text); });
  }
  for (QWidget* w : {static_cast<QWidget*>(ui->lbl_height), static_cast<QWidget*>(ui->lbl_heightValue),
                     static_cast<QWidget*>(ui->hsl_height), static_cast<QWidget*>(ui->lbl_width),
                     static_cast<QWidget*>(ui->lbl_widthValue), static_cast<QWidget*>(ui->hsl_width)})
    w->hide();
  ui->rdb_gpu->setChecked(gpuAvailable);
  ui->rdb_cpu->setChecked(!gpuAvailable);
  (gpuAvailable ? ui->rdb_cpu : ui->rdb_gpu)->setEnabled(false);
  changeSettings([](DeblurSettings& s) { s.useCpu = !gpuAvailable; });
  // The panel shows which kernel file the next Run uses, however it was set.
  connect(&model_, &DocumentModel::knownKernelChanged, this, &SubMainWindow::showKernelChoice);
  showKernelChoice();
}

void SubMainWindow::changeSettings(const std::function<void(DeblurSettings&)>& change) {
  DeblurSettings settings = model_.settings();
  change(settings);
  model_.setSettings(settings);
}

void SubMainWindow::changeOptions(const std::function<void(velmora::JobOptions&)>& change) {
  velmora::JobOptions options = model_.options();
  change(options);
  model_.setOptions(options);
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
  velmora::io::PictureMetadata metadata;
  const cv::Mat picture = ReadPictureFile(fileName, &problem, &metadata);
  model_.setMetadata(metadata);
  if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) sub->resize(640, 480);
  if (picture.empty()) {
    QMessageBox::information(this, tr("Error"), problem);
    return false;
  }
  model_.setPicture(picture);
  const std::vector<unsigned char>& icc = metadata.iccProfile();
  model_.setColourSpace(icc.empty() ? QColorSpace()
                                    : QColorSpace::fromIccProfile(QByteArray(reinterpret_cast<const char*>(icc.data()),
                                                                             static_cast<qsizetype>(icc.size()))));
  const QString values[5] = {PictureShortName(fileName), PictureFileType(fileName),
                             QString::asprintf("%dpx", picture.cols), QString::asprintf("%dpx", picture.rows),
                             gpuAvailable ? QStringLiteral("GPU") : QStringLiteral("CPU")};
  for (int row = 0; row < 5; ++row) ui->tbl_info->setItem(row, 1, new QTableWidgetItem(values[row]));

  auto* page = new ImageWidget(ImageWidget::Kind::kInput);
  addPage(page, tr("Input"));
  inputPage_ = page;
  page->view()->showImage(picture);
  return true;
}

QList<ImageWidget*> SubMainWindow::pages() const {
  QList<ImageWidget*> list;
  for (int i = 0; i < ui->tabs->count(); ++i)
    if (auto* page = qobject_cast<ImageWidget*>(ui->tabs->widget(i))) list.append(page);
  return list;
}

void SubMainWindow::setJobController(JobController* jobs) {
  jobs_ = jobs;
  for (ImageWidget* page : pages())
    if (page->result()) page->result()->setJobController(jobs);
}

void SubMainWindow::addPage(ImageWidget* page, const QString& title) {
  page->setModel(&model_);
  if (ResultPage* result = page->result()) {
    result->setJobController(jobs_);
    connect(result, &ResultPage::backRequested, this, [this] {
      if (inputPage_) ui->tabs->setCurrentWidget(inputPage_);
    });
    connect(result, &ResultPage::jobStateChanged, this, &SubMainWindow::pagesChanged);
    // A tab's tooltip follows its job: an Auto job's size is known at its end.
    connect(result, &ResultPage::jobStateChanged, this, [this, page] {
      if (const int index = ui->tabs->indexOf(page); index >= 0) ui->tabs->setTabToolTip(index, page->result()->summary());
    });
    connect(result, &ResultPage::jobEnded, this, &SubMainWindow::blinkParams);
  }
  ui->tabs->addTab(page, title);
  ui->tabs->setCurrentWidget(page);
}

int SubMainWindow::unsavedResults() const {
  const QList<ImageWidget*> all = pages();
  return static_cast<int>(std::count_if(all.begin(), all.end(), [](const ImageWidget* page) {
    return page->result() && page->result()->unsavedResult();
  }));
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
  const bool running = page ? page->busy() : hasRunningJob();
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
  const bool custom = index == kBlurCustom;
  // Auto leaves the size alone: each job is given its own bound at Run.
  if (index < kBlurCustom)
    changeSettings([index](DeblurSettings& s) { s.kernelHeight = s.kernelWidth = velmora::kBlurPresets[index]; });
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

void SubMainWindow::applyWizardChoices(const WizardChoices& choices) {
  checkKernelPresetButton(choices.preset);
  changeSettings([&choices](DeblurSettings& s) {
    s.kernelHeight = choices.kernelHeight;
    s.kernelWidth = choices.kernelWidth;
    s.gamma = choices.gamma;
    s.smoothness = choices.smoothness;
    s.reduceRinging = choices.reduceRinging;
    s.reduceNoise = choices.reduceNoise;
  });
  if (choices.protectHighlights) changeOptions([](velmora::JobOptions& o) { o.highlights = velmora::Highlights::kModel; });
  syncControls();
  // The input page follows the model's region.
  if (choices.regionSelected) model_.setRegion(choices.region, true);
}

void SubMainWindow::syncControls() {
  const DeblurSettings& settings = model_.settings();
  const velmora::JobOptions& options = model_.options();
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
  if (checked) setKernelPreset(kBlurSmall);
}
void SubMainWindow::on_rdb_kernelMedium_toggled(bool checked) {
  if (checked) setKernelPreset(kBlurMedium);
}
void SubMainWindow::on_rdb_kernelLarge_toggled(bool checked) {
  if (checked) setKernelPreset(kBlurLarge);
}
void SubMainWindow::on_rdb_kernelCustom_toggled(bool checked) {
  if (checked) setKernelPreset(kBlurCustom);
}
// Also called unchecked, when another size is chosen: that one is then given.
void SubMainWindow::on_rdb_kernelAuto_toggled(bool checked) {
  changeOptions([checked](velmora::JobOptions& o) { o.findBlurSize = checked; });
  if (checked) setKernelPreset(kBlurAuto);
}

void SubMainWindow::on_hsl_height_valueChanged(int value) {
  changeSettings([value](DeblurSettings& s) { s.kernelHeight = 2 * value + 1; });
  ui->lbl_heightValue->setText(QString::asprintf("%d px", model_.settings().kernelHeight));
}

void SubMainWindow::on_hsl_width_valueChanged(int value) {
  changeSettings([value](DeblurSettings& s) { s.kernelWidth = 2 * value + 1; });
  ui->lbl_widthValue->setText(QString::asprintf("%d px", model_.settings().kernelWidth));
}

void SubMainWindow::on_rdb_gamma_1_0_toggled(bool checked) {
  if (checked) changeSettings([](DeblurSettings& s) { s.gamma = 1.0f; });
}
void SubMainWindow::on_rdb_gamma_2_2_toggled(bool checked) {
  if (checked) changeSettings([](DeblurSettings& s) { s.gamma = 2.2f; });
}

void SubMainWindow::on_hsl_tscale_valueChanged(int value) {
  changeSettings([value](DeblurSettings& s) { s.tscale = value / 100.0f; });
  ui->lbl_tscaleValue->setText(QString::asprintf("%.2f", model_.settings().tscale));
}

void SubMainWindow::on_hsl_wtdeconv_valueChanged(int value) {
  changeSettings([value](DeblurSettings& s) { s.smoothness = value / 100.0f; });
  ui->lbl_wtdeconvValue->setText(QString::asprintf("%.2f", model_.settings().smoothness));
}

void SubMainWindow::on_chb_dering_stateChanged(int state) {
  changeSettings([state](DeblurSettings& s) { s.reduceRinging = state == Qt::Checked ? 1 : 0; });
}

void SubMainWindow::on_chb_denoise_stateChanged(int state) {
  changeSettings([state](DeblurSettings& s) { s.reduceNoise = state == Qt::Checked ? 1 : 0; });
}

// An option of the job, not of the settings record: the engine's settings,
// and with them every result made with the box off, stay as they were.
void SubMainWindow::on_chb_highlights_toggled(bool checked) {
  changeOptions([checked](velmora::JobOptions& o) {
    o.highlights = checked ? velmora::Highlights::kModel : velmora::Highlights::kKeep;
  });
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
  model_.setKnownKernel(kernel, QFileInfo(fileName).fileName());
}

void SubMainWindow::on_btn_clearKernel_clicked() { model_.setKnownKernel(cv::Mat(), QString()); }

// With a kernel loaded the estimator has no say; the panel shows which file
// the next Run uses.
void SubMainWindow::showKernelChoice() {
  const bool known = !model_.knownKernel().empty();
  ui->lbl_kernelFile->setText(known ? tr("Kernel: %1").arg(model_.knownKernelName()) : QString());
  ui->lbl_kernelFile->setToolTip(ui->lbl_kernelFile->text());
  ui->btn_clearKernel->setEnabled(known);
  ui->rdb_estimatorClassic->setEnabled(!known);
  ui->rdb_estimatorSharp->setEnabled(!known);
}

// The choice follows the checked button, however it became checked.
void SubMainWindow::on_rdb_estimatorSharp_toggled(bool checked) {
  changeOptions([checked](velmora::JobOptions& o) {
    o.estimator = checked ? velmora::KernelEstimator::kSharp : velmora::KernelEstimator::kClassic;
  });
}

void SubMainWindow::on_btn_advance_clicked() {
  if (advancedShown_)
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
  advancedShown_ = true;
  ui->btn_advance->setArrowType(Qt::UpArrow);
  ui->btn_advance->setAccessibleName(tr("Show fewer parameters"));
  animateParamsHeight(kParamsExpanded);
}

void SubMainWindow::collapseParams() {
  advancedShown_ = false;
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
  if (auto* page = qobject_cast<ImageWidget*>(ui->tabs->widget(index))) page->refreshView();
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
  if (checked) changeSettings([](DeblurSettings& s) { s.useCpu = true; });
}
void SubMainWindow::on_rdb_gpu_toggled(bool checked) {
  if (checked) changeSettings([](DeblurSettings& s) { s.useCpu = false; });
}

void SubMainWindow::on_btn_run_clicked() {
  if (!jobs_ || jobs_->running()) return;  // one job at a time in the whole application
  JobRequest request;
  if (const QString refusal = PrepareJob(model_, &request); !refusal.isEmpty()) {
    QMessageBox::information(this, tr("Error"), refusal);
    return;
  }
  auto* page = new ImageWidget(ImageWidget::Kind::kResult);
  ++resultCount_;
  const QString title =
      QString::asprintf("Result%d - %s", resultCount_, model_.settings().useCpu ? "CPU" : "GPU");
  addPage(page, title);
  page->result()->start(request, request.knownKernel.empty() ? QString() : model_.knownKernelName());
  page->view()->updateZoomControls();
}

void SubMainWindow::setRunControlsEnabled(bool enable) {
  ui->btn_run->setEnabled(enable);
  for (ImageWidget* page : pages()) page->setNextEnabled(enable);
}

bool SubMainWindow::runEnabled() const { return ui->btn_run->isEnabled(); }

bool SubMainWindow::hasRunningJob() const {
  const QList<ImageWidget*> all = pages();
  return std::any_of(all.begin(), all.end(), [](const ImageWidget* page) { return page->busy(); });
}

void SubMainWindow::closeEvent(QCloseEvent* event) {
  if (!stopJobToClose() || !discardUnsavedToClose()) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}
