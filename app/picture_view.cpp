#include "app/picture_view.h"

#include <QAbstractButton>
#include <QColorSpace>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <utility>

#include "app/documentmodel.h"
#include "app/imagelabel.h"
#include "app/imagescrollarea.h"
#include "app/view_geometry.h"

namespace {

// A picture of any depth the program reads as 8-bit RGB for the screen,
// converted from its colour space (when valid) to sRGB. *rgb holds the
// pixels of the image returned when no conversion was needed.
QImage ScreenImage(const cv::Mat& bgr, const QColorSpace& space, cv::Mat* rgb) {
  cv::Mat bytes = bgr;
  if (bgr.depth() == CV_16U) bgr.convertTo(bytes, CV_8U, 1.0 / 257.0);
  if (bgr.depth() == CV_32F) bgr.convertTo(bytes, CV_8U, 255.0);
  cv::cvtColor(bytes, *rgb, cv::COLOR_BGR2RGB);
  QImage image(rgb->data, rgb->cols, rgb->rows, static_cast<qsizetype>(rgb->step), QImage::Format_RGB888);
  if (!space.isValid() || space == QColorSpace(QColorSpace::SRgb)) return image;
  image.setColorSpace(space);
  return image.convertedToColorSpace(QColorSpace(QColorSpace::SRgb));  // owns its pixels
}

}  // namespace

PictureView::PictureView(QWidget* page, const Controls& controls)
    : QObject(page), page_(page), controls_(controls) {
  connect(controls_.area, &ImageScrollArea::zoomRequested, this,
          [this](int steps, const QPoint& at) { zoomBy(steps, at); });
  connect(controls_.area, &ImageScrollArea::panKeyHeld, controls_.label, &RegionLabel::setPanKeyHeld);
  connect(controls_.area, &ImageScrollArea::scrolled, this, [this](int x, int y) {
    if (model_) model_->setScroll(x, y);
  });
  connect(controls_.label, &RegionLabel::pointerDragged, this, &PictureView::onPointerDragged);
  connect(controls_.zoomIn, &QAbstractButton::clicked, this, &PictureView::zoomIn);
  connect(controls_.zoomOut, &QAbstractButton::clicked, this, &PictureView::zoomOut);
  addZoomKeys();
}

// Ctrl++, Ctrl+- and Ctrl+0 (1.0x) on the page shown.
void PictureView::addZoomKeys() {
  const std::pair<QKeySequence, int> zoomKeys[] = {{QKeySequence::ZoomIn, 1},
                                                   {QKeySequence(Qt::CTRL | Qt::Key_Equal), 1},
                                                   {QKeySequence::ZoomOut, -1},
                                                   {QKeySequence(Qt::CTRL | Qt::Key_0), 0}};
  for (const auto& [keys, steps] : zoomKeys) {
    auto* shortcut = new QShortcut(keys, page_);
    shortcut->setContext(Qt::WindowShortcut);
    const int s = steps;
    connect(shortcut, &QShortcut::activated, this, [this, s] {
      if (s == 0)
        zoomTo(1.0f);
      else
        zoomBy(s);
    });
  }
}

void PictureView::setModel(DocumentModel* model) { model_ = model; }

void PictureView::showImage(const cv::Mat& bgr) {
  picture_ = ScreenImage(bgr, model_ ? model_->colourSpace() : QColorSpace(), &rgb_);
  refresh();
}

void PictureView::setComparison(const cv::Mat& bgr) {
  comparison_ = ScreenImage(bgr, model_ ? model_->colourSpace() : QColorSpace(), &comparisonRgb_);
}

void PictureView::setComparing(bool comparing) {
  comparing_ = comparing;
  refresh();
}

void PictureView::setSplitShown(bool split) {
  splitShown_ = split;
  refresh();
}

void PictureView::setSplit(double split) {
  split_ = std::clamp(split, 0.0, 1.0);
  refresh();
}

float PictureView::zoom() const { return model_ ? model_->zoom() : 1.0f; }

QSizeF PictureView::shownSize() const {
  const float z = zoom();
  return QSizeF(z * picture_.width(), z * picture_.height());
}

// The picture as shown at zoom z: the picture, or while comparing the
// comparison in its place or the two either side of the divider.
QImage PictureView::shownFrame(float z) const {
  const QSize size(static_cast<int>(picture_.width() * z), static_cast<int>(picture_.height() * z));
  const QImage shown = picture_.scaled(size, Qt::KeepAspectRatio, Qt::FastTransformation);
  if (!comparing()) return shown;
  const QImage before = comparison_.scaled(size, Qt::KeepAspectRatio, Qt::FastTransformation);
  if (!splitView()) return before;
  QImage frame = shown.convertToFormat(QImage::Format_RGB888);
  const int divider = static_cast<int>(split_ * frame.width());
  QPainter painter(&frame);
  painter.drawImage(QRect(0, 0, divider, frame.height()), before, QRect(0, 0, divider, before.height()));
  painter.setPen(QPen(Qt::white, 2));
  painter.drawLine(divider, 0, divider, frame.height());
  return frame;
}

void PictureView::refresh() {
  if (picture_.isNull()) return;
  ImageLabel* label = controls_.label;
  label->setPixmap(QPixmap::fromImage(shownFrame(zoom())));
  // Every zoom step passes here: the name is set, and announced, once.
  const QString name = tr("Picture");
  if (label->accessibleName() != name) label->setAccessibleName(name);
  refreshOverlay();
}

void PictureView::showText(const QString& text) {
  controls_.label->setAccessibleName(QString());
  controls_.label->setText(text);
}

void PictureView::updateZoomControls() {
  const float z = zoom();
  controls_.zoomText->setText(QString::asprintf("%.1fx", z));
  controls_.zoomOut->setEnabled(!(z < kZoomMin));
  controls_.zoomIn->setEnabled(!(z > kZoomMax));
  restoreScroll();
}

void PictureView::restoreScroll() {
  if (!model_) return;
  const int x = model_->scrollX(), y = model_->scrollY();  // the first call below may change them
  QScrollBar* h = controls_.area->horizontalScrollBar();
  QScrollBar* v = controls_.area->verticalScrollBar();
  h->setSliderPosition(x);
  v->setSliderPosition(y);
  // A picture just shown has its scroll range only after the next layout:
  // the shared position is put back then too.
  QTimer::singleShot(0, this, [this, h, v, x, y] {
    if (!model_ || !page_->isVisible()) return;
    h->setSliderPosition(x);
    v->setSliderPosition(y);
  });
}

void PictureView::zoomIn() {
  if (model_ && model_->zoom() < kZoomMax) zoomTo(model_->zoom() * kZoomStep);
}

void PictureView::zoomOut() {
  if (model_ && model_->zoom() > kZoomMin) zoomTo(model_->zoom() / kZoomStep);
}

void PictureView::zoomBy(int steps, QPoint at) {
  if (busy_ || !model_) return;
  const float z = model_->zoom();
  if (steps > 0 && z < kZoomMax) zoomTo(z * kZoomStep, at);
  if (steps < 0 && z > kZoomMin) zoomTo(z / kZoomStep, at);
}

// The scroll position that keeps the picture point under `at` in place: the
// point's share of the picture is the same before and after.
void PictureView::zoomTo(float z, QPoint at) {
  if (!model_ || z == model_->zoom()) return;
  const QSize viewport = controls_.area->viewport()->size();
  if (at.x() < 0) at = QPoint(viewport.width() / 2, viewport.height() / 2);
  const QSizeF before = shownSize();
  const QPoint onLabel = controls_.label->mapFrom(controls_.area->viewport(), at);
  const QPointF share = LabelToRelative(onLabel, before, controls_.label->size());
  model_->setZoom(z);
  const QSizeF after = shownSize();
  auto scrollFor = [](double share, double shown, int view, int pointer) {
    if (shown <= view) return 0;
    return static_cast<int>(std::clamp(share * shown - pointer, 0.0, shown - view));
  };
  model_->setScroll(scrollFor(share.x(), after.width(), viewport.width(), at.x()),
                    scrollFor(share.y(), after.height(), viewport.height(), at.y()));
  refresh();
  updateZoomControls();
}

// A drag that draws no region moves the divider of the split view, or else
// pans the picture.
void PictureView::onPointerDragged(const QPoint& position, const QPoint& global, bool started, bool panOnly) {
  if (!panOnly && splitView()) {
    const int width = controls_.label->width();
    if (width > 0) setSplit(static_cast<double>(position.x()) / width);
    return;
  }
  if (!started) {
    const QPoint delta = global - panLast_;
    QScrollBar* h = controls_.area->horizontalScrollBar();
    QScrollBar* v = controls_.area->verticalScrollBar();
    h->setValue(h->value() - delta.x());
    v->setValue(v->value() - delta.y());
  }
  panLast_ = global;
}

// Before there is a picture the label draws its own selection, if any: the
// region is placed once the picture is shown.
void PictureView::setOverlayRegion(const velmora::DeblurRegion& region) {
  overlay_ = region;
  if (!picture_.isNull()) refreshOverlay();
}

void PictureView::refreshOverlay() {
  controls_.label->setRelativeRegion(QRectF(overlay_.x, overlay_.y, overlay_.width, overlay_.height),
                                     shownSize());
}

velmora::DeblurRegion PictureView::labelToRegion(const QRect& rect) const {
  const QSizeF shown = shownSize();
  const QSize labelSize = controls_.label->size();
  const QPointF a = LabelToRelative(rect.topLeft(), shown, labelSize);
  const QPointF b = LabelToRelative(QPoint(rect.left() + rect.width() - 1, rect.top() + rect.height() - 1),
                                    shown, labelSize);
  return {a.x(), a.y(), b.x() - a.x(), b.y() - a.y()};
}

QRect PictureView::regionToLabel(const velmora::DeblurRegion& region) const {
  const QSizeF shown = shownSize();
  const QSize labelSize = controls_.label->size();
  const QPoint a = RelativeToLabel(QPointF(region.x, region.y), shown, labelSize);
  const QPoint b = RelativeToLabel(QPointF(region.x + region.width, region.y + region.height), shown, labelSize);
  return QRect(a, b);
}
