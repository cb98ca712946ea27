#include "app/wizardimagelabel.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

#include "app/wizarddialog.h"

namespace {

WizardDialog* WizardOf(const QWidget* label) { return qobject_cast<WizardDialog*>(label->window()); }

}  // namespace

void WizardImageLabel::mousePressEvent(QMouseEvent* event) {
  QLabel::mousePressEvent(event);
  WizardDialog* wizard = WizardOf(this);
  if (!wizard || wizard->wholeImage) return;
  if (event->button() == Qt::RightButton) {
    wizard->resetRegion();
    hasRegion = false;
  } else if (event->button() == Qt::LeftButton) {
    selecting = true;
    pressPoint = dragPoint = event->position().toPoint();
    wizard->setRegionFromLabel(selectionRect());
  } else {
    return;
  }
  update();
}

void WizardImageLabel::mouseMoveEvent(QMouseEvent* event) {
  QLabel::mouseMoveEvent(event);
  WizardDialog* wizard = WizardOf(this);
  if (!wizard || wizard->wholeImage || !selecting) return;
  const QPoint p = event->position().toPoint();
  dragPoint = QPoint(std::clamp(p.x(), 0, width() - 1), std::clamp(p.y(), 0, height() - 1));
  wizard->setRegionFromLabel(selectionRect());
  update();
}

void WizardImageLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  WizardDialog* wizard = WizardOf(this);
  if (!wizard || wizard->wholeImage || event->button() != Qt::LeftButton) return;
  selecting = false;
  if (wizard->checkRegion()) {
    hasRegion = true;
    wizard->regionSelected = true;
  } else {
    hasRegion = false;
    wizard->resetRegion();
  }
  update();
}

void WizardImageLabel::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  const WizardDialog* wizard = WizardOf(this);
  if (!wizard || wizard->wholeImage || !(selecting || hasRegion)) return;
  QPainter painter(this);
  const QRect selection = selectionRect();
  painter.setPen(QColor(255, 0, 0));
  painter.setOpacity(0.3);
  painter.fillRect(selection, Qt::white);
  painter.setOpacity(1.0);
  painter.drawRect(selection);
}
