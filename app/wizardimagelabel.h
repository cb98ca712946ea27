// The picture on the wizard's region page, on which the region is drawn.
#pragma once

#include <QLabel>
#include <QPoint>

class WizardImageLabel : public QLabel {
  Q_OBJECT

 public:
  explicit WizardImageLabel(QWidget* parent = nullptr);

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
