#include "app/input_page.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QWidget>

#include "app/documentmodel.h"
#include "app/imagelabel.h"
#include "app/picture_view.h"

InputPage::InputPage(QWidget* page, ImageLabel* label, PictureView* view)
    : QObject(page), page_(page), label_(label), view_(view) {
  label_->setDrawingEnabled(true);
  label_->setOutlineOnly(false);
  connect(label_, &RegionLabel::selectionMoved, this, &InputPage::onSelectionMoved);
  connect(label_, &RegionLabel::selectionReleased, this, &InputPage::onSelectionReleased);
  connect(label_, &RegionLabel::selectionCleared, this, [this] { setSelected(false); });
}

void InputPage::setModel(DocumentModel* model) {
  if (model_) disconnect(model_, nullptr, this, nullptr);
  model_ = model;
  if (!model_) return;
  // The region shown is the document's, wherever it was set.
  connect(model_, &DocumentModel::regionChanged, this,
          [this] { setRegion(model_->region(), model_->regionSelected()); });
}

void InputPage::setRegion(const velmora::DeblurRegion& region, bool selected) {
  region_ = region;
  selected_ = selected;
  label_->setHasRegion(selected);
  view_->setOverlayRegion(region_);
}

// The model follows the drag as it goes; whether the region counts is
// decided when the button is released.
void InputPage::onSelectionMoved(const QRect& rect) {
  region_ = view_->labelToRegion(rect);
  view_->setOverlayRegion(region_);
  if (model_) model_->setRegion(region_, selected_);
}

void InputPage::onSelectionReleased() {
  label_->setHasRegion(checkRegion());
  setSelected(label_->hasRegion());
}

void InputPage::setSelected(bool selected) {
  selected_ = selected;
  if (model_) model_->setRegion(region_, selected);
}

QRect InputPage::regionInLabel() const { return view_->regionToLabel(region_); }

bool InputPage::checkRegion() {
  const DeblurSettings settings = model_ ? model_->settings() : DeblurSettings{};
  const bool findSize = model_ && model_->options().findBlurSize;
  const int rows = view_->picture().height(), cols = view_->picture().width();
  // An Auto job searches within what the region leaves room for.
  const BlurBound bound =
      findSize ? AutoBlurBound(rows, cols, &region_) : BlurBound{settings.kernelHeight, settings.kernelWidth};
  if (velmora::RegionAccepted(region_, rows, cols, bound.height, bound.width)) return true;
  const int h = static_cast<int>(rows * region_.height);
  const int w = static_cast<int>(cols * region_.width);
  if (h <= 20 || w <= 20) return false;  // a click or a tiny drag
  QMessageBox::information(page_, tr("Too small"), QCoreApplication::translate("Job", velmora::kRegionTooSmall));
  return false;
}
