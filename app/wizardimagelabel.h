// The picture on the wizard's region page, on which the region is drawn.
#pragma once

#include "app/regionlabel.h"

class WizardImageLabel : public RegionLabel {
  Q_OBJECT

 public:
  explicit WizardImageLabel(QWidget* parent = nullptr) : RegionLabel(parent) {}

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
};
