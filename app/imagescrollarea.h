// The scrolling area of a viewer page: the wheel zooms instead of scrolling,
// and the scroll position is shared with the other pages of the document.
#pragma once

#include <QScrollArea>

class ImageScrollArea : public QScrollArea {
  Q_OBJECT

 public:
  explicit ImageScrollArea(QWidget* parent = nullptr);

 protected:
  void wheelEvent(QWheelEvent* event) override;

 private slots:
  void on_horizontalScrollBar_valueChanged(int value);
  void on_verticalScrollBar_valueChanged(int value);
};
