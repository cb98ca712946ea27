#include "app/wizarddialog.h"

#include <QCursor>
#include <QMessageBox>
#include <QToolTip>

#include <algorithm>

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
  navLabels_[0] = ui->lbl_overview;
  navLabels_[1] = ui->lbl_kernel;
  navLabels_[2] = ui->lbl_region;
  pages_[0] = ui->wdg_overview;
  pages_[1] = ui->wdg_kernel;
  pages_[2] = ui->wdg_region;
  setPage(0);
  for (QLabel* link : navLabels_)
    connect(link, &QLabel::linkActivated, this, &WizardDialog::on_items_label_linkActivated);
  connect(ui->lbl_img, &RegionLabel::selectionMoved, this, &WizardDialog::setRegionFromLabel);
  connect(ui->lbl_img, &RegionLabel::selectionReleased, this, &WizardDialog::onSelectionReleased);
  connect(ui->lbl_img, &RegionLabel::selectionCleared, this, &WizardDialog::resetRegion);
  showRegionDrawing(!wholeImage_);
}

void WizardDialog::onSelectionReleased(const QRect& rect) {
  if (checkRegion()) {
    ui->lbl_img->setHasRegion(true);
    regionSelected_ = true;
    return;
  }
  // A region too small stays in view with the reason; a click clears.
  regionSelected_ = false;
  ui->lbl_img->setHasRegion(rect.width() > 2 && rect.height() > 2);
  if (!ui->lbl_img->hasRegion()) {
    resetRegion();
    return;
  }
  ui->lbl_regionValue->setText(tr("%1: too small, at least %2 x %3 px")
                                   .arg(ui->lbl_regionValue->text())
                                   .arg(velmora::MinimumRegionSide(regionBlurSize().width))
                                   .arg(velmora::MinimumRegionSide(regionBlurSize().height)));
  ui->lbl_regionValue->setStyleSheet(QStringLiteral("color: red"));
}

// The region is drawn, and shown, only when a region is to be deblurred.
void WizardDialog::showRegionDrawing(bool shown) {
  ui->lbl_img->setDrawingEnabled(shown);
  ui->lbl_img->setOverlayHidden(!shown);
}

WizardDialog::~WizardDialog() { delete ui; }

WizardImageLabel* WizardDialog::label() const { return ui->lbl_img; }

void WizardDialog::setPage(int index) {
  currentPage_ = index;
  for (int i = 0; i < 3; ++i) {
    pages_[i]->setVisible(i == index);
    QFont font = navLabels_[i]->font();
    font.setBold(i == index);
    navLabels_[i]->setFont(font);
  }
  ui->btn_prev->setEnabled(index != 0);
  ui->btn_next->setEnabled(index != 2);
}

void WizardDialog::loadPicture(const QImage& shownPicture, const cv::Mat& full) {
  picture_ = shownPicture;
  const QImage shown = picture_.scaled(ui->widget_2->size(), Qt::KeepAspectRatio, Qt::FastTransformation);
  ui->lbl_img->setPixmap(QPixmap::fromImage(shown));
  ui->lbl_img->setAccessibleName(tr("Picture"));  // no longer the placeholder's text
  // The label takes the picture's size now, not at the next layout pass:
  // regions are measured against it.
  ui->lbl_img->resize(shown.size());
  // Judged on the full-size picture: the scaled one shown here averages
  // small lamps away.
  clippedHighlights_ = velmora::ShowsClippedHighlights(full);
  ui->lbl_highlights->setText(
      clippedHighlights_ ? tr("This picture has clipped lamps or highlights: Protect Highlights is turned on.")
                         : QString());
  ui->lbl_highlights->setVisible(clippedHighlights_);
}

void WizardDialog::on_btn_prev_clicked() { setPage(currentPage_ - 1); }
void WizardDialog::on_btn_next_clicked() { setPage(currentPage_ + 1); }

void WizardDialog::on_items_label_linkActivated(const QString& link) {
  bool ok = false;
  const int index = link.toInt(&ok);
  if (ok && index >= 0 && index < 3) setPage(index);
}

void WizardDialog::on_rdb_kernelSmall_toggled(bool checked) {
  if (checked) kernelHeight_ = kernelWidth_ = velmora::kBlurPresets[kBlurSmall];
}
void WizardDialog::on_rdb_kernelMedium_toggled(bool checked) {
  if (checked) kernelHeight_ = kernelWidth_ = velmora::kBlurPresets[kBlurMedium];
}
void WizardDialog::on_rdb_kernelLarge_toggled(bool checked) {
  if (checked) kernelHeight_ = kernelWidth_ = velmora::kBlurPresets[kBlurLarge];
}

void WizardDialog::on_rdb_kernelAuto_toggled(bool checked) { autoBlurSize_ = checked; }

void WizardDialog::on_btn_helpAuto_clicked() { QToolTip::showText(QCursor::pos(), helpAutoText_); }

void WizardDialog::on_rdb_complete_toggled(bool checked) {
  if (!checked) return;
  wholeImage_ = true;
  ui->lbl_regionValue->hide();
  showRegionDrawing(false);
}

void WizardDialog::on_rdb_partial_toggled(bool checked) {
  if (!checked) return;
  wholeImage_ = false;
  ui->lbl_regionValue->show();
  showRegionDrawing(true);
}

void WizardDialog::setRegionFromLabel(const QRect& rect) {
  const double lw = ui->lbl_img->width(), lh = ui->lbl_img->height();
  const double x1 = rect.left(), y1 = rect.top();
  const double x2 = rect.left() + rect.width() - 1, y2 = rect.top() + rect.height() - 1;
  region_ = {x1 / lw, y1 / lh, x2 / lw - x1 / lw, y2 / lh - y1 / lh};
  const int w = std::max(0, static_cast<int>(picture_.width() * region_.width));
  const int h = std::max(0, static_cast<int>(picture_.height() * region_.height));
  ui->lbl_regionValue->setStyleSheet(QString());
  ui->lbl_regionValue->setText(QString::asprintf("%d x %d px", w, h));
}

BlurBound WizardDialog::regionBlurSize() const {
  if (autoBlurSize_) return AutoBlurBound(picture_.height(), picture_.width(), &region_);
  return {kernelHeight_, kernelWidth_};
}

bool WizardDialog::checkRegion() const {
  const BlurBound size = regionBlurSize();
  return velmora::RegionAccepted(region_, picture_.height(), picture_.width(), size.height, size.width);
}

void WizardDialog::resetRegion() {
  regionSelected_ = false;
  ui->lbl_regionValue->setStyleSheet(QString());
  ui->lbl_regionValue->setText(tr("Specify the region in the image:"));
}

int WizardDialog::checkedPreset() const {
  if (ui->rdb_kernelSmall->isChecked()) return kBlurSmall;
  if (ui->rdb_kernelMedium->isChecked()) return kBlurMedium;
  if (ui->rdb_kernelLarge->isChecked()) return kBlurLarge;
  if (ui->rdb_kernelAuto->isChecked()) return kBlurAuto;
  return kBlurCustom;
}

WizardChoices WizardDialog::choices() const {
  WizardChoices choices;
  choices.preset = checkedPreset();
  choices.kernelHeight = kernelHeight_;
  choices.kernelWidth = kernelWidth_;
  choices.protectHighlights = clippedHighlights_;
  choices.regionSelected = !wholeImage_ && regionSelected_;
  if (choices.regionSelected) choices.region = region_;
  choices.runNow = currentPage_ == 2;
  return choices;
}

void WizardDialog::on_btn_finish_clicked() {
  if (!wholeImage_ && !regionSelected_) {
    QMessageBox::information(this, tr("Error"),
                             tr("Please specify deblurring region, or choose \"Deblur whole image\"."));
    return;
  }
  accept();
}
