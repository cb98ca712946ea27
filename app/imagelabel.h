// The picture on a viewer page. On the input page a left-button drag draws
// the region of interest and a right click clears it; result pages show the
// region's outline once their job has ended.
#pragma once

#include "app/regionlabel.h"

class ImageLabel : public RegionLabel {
  Q_OBJECT

 public:
  explicit ImageLabel(QWidget* parent = nullptr) : RegionLabel(parent) {}

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
};
