// The scrolling area of a viewer page: the wheel zooms instead of scrolling,
// and the scroll position is reported so that the document can share it
// with its other pages.
#pragma once

#include <QScrollArea>

class ImageScrollArea : public QScrollArea {
  Q_OBJECT

 public:
  explicit ImageScrollArea(QWidget* parent = nullptr);

 signals:
  // The wheel turned: in (steps > 0) or out, about `at` in the viewport.
  void zoomRequested(int steps, const QPoint& at);
  // Space went down or up: it turns a left drag into panning.
  void panKeyHeld(bool held);
  // Either scroll bar moved.
  void scrolled(int x, int y);

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private slots:
  void on_horizontalScrollBar_valueChanged(int value);
  void on_verticalScrollBar_valueChanged(int value);
};
