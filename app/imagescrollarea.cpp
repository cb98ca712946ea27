#include "app/imagescrollarea.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QWheelEvent>

ImageScrollArea::ImageScrollArea(QWidget* parent) : QScrollArea(parent) {
  connect(horizontalScrollBar(), &QScrollBar::valueChanged, this,
          &ImageScrollArea::on_horizontalScrollBar_valueChanged);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
          &ImageScrollArea::on_verticalScrollBar_valueChanged);
}

void ImageScrollArea::wheelEvent(QWheelEvent* event) {
  // The wheel zooms; it never scrolls the area.
  event->accept();
  const int delta = event->angleDelta().y();
  if (delta != 0) emit zoomRequested(delta > 0 ? 1 : -1, event->position().toPoint());
}

void ImageScrollArea::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space) {
    if (!event->isAutoRepeat()) emit panKeyHeld(true);
    event->accept();
    return;
  }
  QScrollArea::keyPressEvent(event);
}

void ImageScrollArea::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space) {
    if (!event->isAutoRepeat()) emit panKeyHeld(false);
    event->accept();
    return;
  }
  QScrollArea::keyReleaseEvent(event);
}

void ImageScrollArea::on_horizontalScrollBar_valueChanged(int value) {
  emit scrolled(value, verticalScrollBar()->value());
}

void ImageScrollArea::on_verticalScrollBar_valueChanged(int value) {
  emit scrolled(horizontalScrollBar()->value(), value);
}
