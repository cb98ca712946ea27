#include "app/regionlabel.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

#include "app/view_geometry.h"

QRect NormalisedSelection(QPoint a, QPoint b) {
  return QRect(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::abs(a.x() - b.x()),
               std::abs(a.y() - b.y()));
}

QRect RegionLabel::selectionRect() const { return NormalisedSelection(pressPoint_, dragPoint_); }

void RegionLabel::setHasRegion(bool has) {
  hasRegion_ = has;
  update();
}

void RegionLabel::setRelativeRegion(const QRectF& region, QSizeF shown) {
  hasRelativeRegion_ = true;
  relativeRegion_ = region;
  shown_ = shown;
  update();
}

void RegionLabel::setOverlayHidden(bool hidden) {
  overlayHidden_ = hidden;
  update();
}

void RegionLabel::mousePressEvent(QMouseEvent* event) {
  QLabel::mousePressEvent(event);
  const bool left = event->button() == Qt::LeftButton;
  const bool middle = event->button() == Qt::MiddleButton;
  if (middle || (left && (!drawingEnabled_ || panKeyHeld_))) {
    panning_ = true;
    panOnly_ = middle || drawingEnabled_;
    emit pointerDragged(event->position().toPoint(), event->globalPosition().toPoint(), true, panOnly_);
    return;
  }
  if (!drawingEnabled_) return;
  if (event->button() == Qt::RightButton) {
    hasRegion_ = false;
    emit selectionCleared();
  } else if (event->button() == Qt::LeftButton) {
    selecting_ = true;
    pressPoint_ = dragPoint_ = event->position().toPoint();
    emit selectionMoved(selectionRect());
  } else {
    return;
  }
  update();
}

void RegionLabel::mouseMoveEvent(QMouseEvent* event) {
  QLabel::mouseMoveEvent(event);
  if (panning_ && (event->buttons() & (Qt::LeftButton | Qt::MiddleButton))) {
    emit pointerDragged(event->position().toPoint(), event->globalPosition().toPoint(), false, panOnly_);
    return;
  }
  if (!drawingEnabled_ || !selecting_) return;
  // The drag stays on the label's pixels.
  const QPoint p = event->position().toPoint();
  dragPoint_ = QPoint(std::clamp(p.x(), 0, width() - 1), std::clamp(p.y(), 0, height() - 1));
  emit selectionMoved(selectionRect());
  update();
}

void RegionLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (panning_) {
    panning_ = false;
    return;
  }
  if (!drawingEnabled_ || event->button() != Qt::LeftButton) return;
  selecting_ = false;
  emit selectionReleased(selectionRect());
  update();
}

void RegionLabel::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  if (overlayHidden_ || !(selecting_ || hasRegion_)) return;
  QRect region = selectionRect();
  if (hasRelativeRegion_ && !selecting_) {
    const QPoint a = RelativeToLabel(relativeRegion_.topLeft(), shown_, size());
    const QPoint b = RelativeToLabel(relativeRegion_.bottomRight(), shown_, size());
    region = QRect(a, b);
  }
  QPainter painter(this);
  if (outlineOnly_) {
    painter.setPen(QColor(0, 255, 0));
  } else {
    painter.setPen(QColor(255, 0, 0));
    painter.setOpacity(0.3);
    painter.fillRect(region, Qt::white);
    painter.setOpacity(1.0);
  }
  painter.drawRect(region);
}
