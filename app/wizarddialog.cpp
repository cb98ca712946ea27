#include "app/wizarddialog.h"

#include <QCursor>
#include <QMessageBox>
#include <QToolTip>

#include <algorithm>

#include "app/imagewidget.h"
#include "app/submainwindow.h"
#include "app/wizardimagelabel.h"
#include "pipeline/highlights.h"
#include "ui_wizarddialog.h"

WizardDialog::WizardDialog(QWidget* parent) : QDialog(parent), ui(new Ui::WizardDialog) {
  ui->setupUi(this);
  ui->lbl_regionValue->hide();
  ui->lbl_highlights->hide();
  ui->grp_gamma->hide();
  // The help text appears on a click, not on hovering, as in the document.
  helpAutoText_ = ui->btn_helpAuto->toolTip();
  ui->btn_helpAuto->setToolTip(QString());
  navLabels[0] = ui->lbl_overview;
  navLabels[1] = ui->lbl_kernel;
  navLabels[2] = ui->lbl_region;
  pages[0] = ui->wdg_overview;
  pages[1] = ui->wdg_kernel;
  pages[2] = ui->wdg_region;
  setPage(0);
  for (QLabel* link : navLabels)
    connect(link, &QLabel::linkActivated, this, &WizardDialog::on_items_label_linkActivated);
  connect(ui->lbl_img, &RegionLabel::selectionMoved, this, &WizardDialog::setRegionFromLabel);
  connect(ui->lbl_img, &RegionLabel::selectionReleased, this, [this](const QRect& rect) {
    if (checkRegion()) {
      ui->lbl_img->hasRegion = true;
      regionSelected = true;
      return;
    }
    // A region too small stays in view with the reason; a click clears.
    regionSelected = false;
    ui->lbl_img->hasRegion = rect.width() > 2 && rect.height() > 2;
    if (!ui->lbl_img->hasRegion) {
      resetRegion();
      return;
    }
    ui->lbl_regionValue->setText(tr("%1: too small, at least %2 x %3 px")
                                     .arg(ui->lbl_regionValue->text())
                                     .arg(velmora::MinimumRegionSide(regionBlurSize().width))
                                     .arg(velmora::MinimumRegionSide(regionBlurSize().height)));
    ui->lbl_regionValue->setStyleSheet(QStringLiteral("color: red"));
  });
  connect(ui->lbl_img, &RegionLabel::selectionCleared, this, &WizardDialog::resetRegion);
  showRegionDrawing(!wholeImage);
}

// The region is drawn, and shown, only when a region is to be deblurred.
void WizardDialog::showRegionDrawing(bool shown) {
  ui->lbl_img->setDrawingEnabled(shown);
  ui->lbl_img->setOverlayHidden(!shown);
}

WizardDialog::~WizardDialog() { delete ui; }

WizardImageLabel* WizardDialog::label() const { return ui->lbl_img; }

void WizardDialog::setPage(int index) {
  currentPage = index;
  for (int i = 0; i < 3; ++i) {
    pages[i]->setVisible(i == index);
    QFont font = navLabels[i]->font();
    font.setBold(i == index);
    navLabels[i]->setFont(font);
  }
  ui->btn_prev->setEnabled(index != 0);
  ui->btn_next->setEnabled(index != 2);
}

void WizardDialog::loadPicture() {
  if (!target || !target->inputPage) return;
  picture = target->inputPage->picture;
  const QImage shown = picture.scaled(ui->widget_2->size(), Qt::KeepAspectRatio, Qt::FastTransformation);
  ui->lbl_img->setPixmap(QPixmap::fromImage(shown));
  ui->lbl_img->setAccessibleName(tr("Picture"));  // no longer the placeholder's text
  // The label takes the picture's size now, not at the next layout pass:
  // regions are measured against it.
  ui->lbl_img->resize(shown.size());
  // Judged on the full-size picture: the scaled one shown here averages
  // small lamps away.
  clippedHighlights = velmora::ShowsClippedHighlights(target->image);
  ui->lbl_highlights->setText(
      clippedHighlights ? tr("This picture has clipped lamps or highlights: Protect Highlights is turned on.")
                        : QString());
  ui->lbl_highlights->setVisible(clippedHighlights);
}

void WizardDialog::on_btn_prev_clicked() { setPage(currentPage - 1); }
void WizardDialog::on_btn_next_clicked() { setPage(currentPage + 1); }

void WizardDialog::on_items_label_linkActivated(const QString& link) {
  bool ok = false;
  const int index = link.toInt(&ok);
  if (ok && index >= 0 && index < 3) setPage(index);
}

void WizardDialog::on_rdb_kernelSmall_toggled(bool checked) {
  if (checked) kernelHeight = kernelWidth = velmora::kBlurPresets[0];
}
void WizardDialog::on_rdb_kernelMedium_toggled(bool checked) {
  if (checked) kernelHeight = kernelWidth = velmora::kBlurPresets[1];
}
void WizardDialog::on_rdb_kernelLarge_toggled(bool checked) {
  if (checked) kernelHeight = kernelWidth = velmora::kBlurPresets[2];
}

void WizardDialog::on_rdb_kernelAuto_toggled(bool checked) { autoBlurSize = checked; }

void WizardDialog::on_btn_helpAuto_clicked() { QToolTip::showText(QCursor::pos(), helpAutoText_); }

void WizardDialog::on_rdb_complete_toggled(bool checked) {
  if (!checked) return;
  wholeImage = true;
  ui->lbl_regionValue->hide();
  showRegionDrawing(false);
}

void WizardDialog::on_rdb_partial_toggled(bool checked) {
  if (!checked) return;
  wholeImage = false;
  ui->lbl_regionValue->show();
  showRegionDrawing(true);
}

void WizardDialog::setRegionFromLabel(const QRect& rect) {
  const double lw = ui->lbl_img->width(), lh = ui->lbl_img->height();
  const double x1 = rect.left(), y1 = rect.top();
  const double x2 = rect.left() + rect.width() - 1, y2 = rect.top() + rect.height() - 1;
  region = {x1 / lw, y1 / lh, x2 / lw - x1 / lw, y2 / lh - y1 / lh};
  const int w = std::max(0, static_cast<int>(picture.width() * region.width));
  const int h = std::max(0, static_cast<int>(picture.height() * region.height));
  ui->lbl_regionValue->setStyleSheet(QString());
  ui->lbl_regionValue->setText(QString::asprintf("%d x %d px", w, h));
}

BlurBound WizardDialog::regionBlurSize() const {
  if (autoBlurSize) return AutoBlurBound(picture.height(), picture.width(), &region);
  return {kernelHeight, kernelWidth};
}

bool WizardDialog::checkRegion() const {
  const BlurBound size = regionBlurSize();
  return velmora::RegionAccepted(region, picture.height(), picture.width(), size.height, size.width);
}

void WizardDialog::resetRegion() {
  regionSelected = false;
  ui->lbl_regionValue->setStyleSheet(QString());
  ui->lbl_regionValue->setText(tr("Specify the region in the image:"));
}

int WizardDialog::checkedPreset() const {
  if (ui->rdb_kernelSmall->isChecked()) return 0;
  if (ui->rdb_kernelMedium->isChecked()) return 1;
  if (ui->rdb_kernelLarge->isChecked()) return 2;
  if (ui->rdb_kernelAuto->isChecked()) return SubMainWindow::kAutoPreset;
  return 3;
}

void WizardDialog::on_btn_finish_clicked() {
  if (!wholeImage && !regionSelected) {
    QMessageBox::information(this, tr("Error"),
                             tr("Please specify deblurring region, or choose \"Deblur whole image\"."));
    return;
  }
  if (target) {
    target->checkKernelPresetButton(checkedPreset());
    target->settings.kernelHeight = kernelHeight;
    target->settings.kernelWidth = kernelWidth;
    target->settings.gamma = gamma;
    target->settings.smoothness = smoothness;
    target->settings.reduceRinging = reduceRinging;
    target->settings.reduceNoise = reduceNoise;
    // Without clipped highlights the choice stays the user's.
    if (clippedHighlights) target->options.highlights = velmora::Highlights::kModel;
    target->syncControls();
    // The input page follows the model's region.
    if (!wholeImage && regionSelected) target->model()->setRegion(region, true);
  }
  accept();
}
