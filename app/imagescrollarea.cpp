#include "app/imagescrollarea.h"

#include <QScrollBar>
#include <QWheelEvent>

#include "app/imagewidget.h"
#include "app/submainwindow.h"

ImageScrollArea::ImageScrollArea(QWidget* parent) : QScrollArea(parent) {
  connect(horizontalScrollBar(), &QScrollBar::valueChanged, this,
          &ImageScrollArea::on_horizontalScrollBar_valueChanged);
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
          &ImageScrollArea::on_verticalScrollBar_valueChanged);
}

void ImageScrollArea::wheelEvent(QWheelEvent* event) {
  // The wheel zooms; it never scrolls the area.
  event->accept();
  ImageWidget* page = ImageWidget::of(this);
  if (!page || page->busy) return;
  const int delta = event->angleDelta().y();
  if (delta > 0)
    page->on_btn_zoomIn_clicked();
  else if (delta < 0)
    page->on_btn_zoomOut_clicked();
}

void ImageScrollArea::on_horizontalScrollBar_valueChanged(int value) {
  if (SubMainWindow* document = SubMainWindow::of(this)) document->scrollX = value;
}

void ImageScrollArea::on_verticalScrollBar_valueChanged(int value) {
  if (SubMainWindow* document = SubMainWindow::of(this)) document->scrollY = value;
}
