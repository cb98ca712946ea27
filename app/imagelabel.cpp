#include "app/imagelabel.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

#include "app/imagewidget.h"

void ImageLabel::mousePressEvent(QMouseEvent* event) {
  QLabel::mousePressEvent(event);
  ImageWidget* page = ImageWidget::of(this);
  if (!page || !page->isInput) return;
  if (event->button() == Qt::RightButton) {
    page->setRegionSelected(false);
    hasRegion = false;
  } else if (event->button() == Qt::LeftButton) {
    selecting = true;
    pressPoint = dragPoint = event->position().toPoint();
    page->setRegionFromLabel(selectionRect());
  } else {
    return;
  }
  update();
}

void ImageLabel::mouseMoveEvent(QMouseEvent* event) {
  QLabel::mouseMoveEvent(event);
  ImageWidget* page = ImageWidget::of(this);
  if (!page || !page->isInput || !selecting) return;
  const QPoint p = event->position().toPoint();
  dragPoint = QPoint(std::clamp(p.x(), 0, width()), std::clamp(p.y(), 0, height()));
  page->setRegionFromLabel(selectionRect());
  update();
}

void ImageLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  ImageWidget* page = ImageWidget::of(this);
  if (!page || !page->isInput || event->button() != Qt::LeftButton) return;
  selecting = false;
  hasRegion = page->checkRegion();
  page->setRegionSelected(hasRegion);
  update();
}

void ImageLabel::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  const ImageWidget* page = ImageWidget::of(this);
  if (!page || page->busy || !(selecting || hasRegion)) return;
  QPainter painter(this);
  const QRect region = page->regionInLabel();
  if (page->isInput) {
    painter.setPen(QColor(255, 0, 0));
    painter.setOpacity(0.3);
    painter.fillRect(region, Qt::white);
    painter.setOpacity(1.0);
  } else {
    painter.setPen(QColor(0, 255, 0));
  }
  painter.drawRect(region);
}
