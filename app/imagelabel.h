// The picture on a viewer page. On the input page a left-button drag draws
// the region of interest and a right click clears it; result pages show the
// region's outline once their job has ended.
#pragma once

#include <QLabel>
#include <QPoint>
#include <QRect>

class ImageLabel : public QLabel {
  Q_OBJECT

 public:
  explicit ImageLabel(QWidget* parent = nullptr);

  // The normalised rectangle between the press and the drag position.
  QRect selectionRect() const;

  bool selecting = false;
  bool hasRegion = false;
  QPoint pressPoint;
  QPoint dragPoint;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
};

// The selection rectangle of two label points.
QRect NormalisedSelection(QPoint a, QPoint b);
