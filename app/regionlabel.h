// A picture label on which a rectangle is dragged with the mouse: the state
// that the viewer's and the wizard's picture labels share.
#pragma once

#include <QLabel>
#include <QPoint>
#include <QRect>

class RegionLabel : public QLabel {
  Q_OBJECT

 public:
  explicit RegionLabel(QWidget* parent = nullptr) : QLabel(parent) {}

  // The normalised rectangle between the press and the drag position (a
  // press without drag gives an empty one).
  QRect selectionRect() const;

  bool selecting = false;  // the left button is down and a rectangle is dragged
  bool hasRegion = false;  // a finished region is to be drawn
  QPoint pressPoint;
  QPoint dragPoint;
};

// The selection rectangle of two label points.
QRect NormalisedSelection(QPoint a, QPoint b);

// The nearest ancestor of object that is a T, or null.
template <typename T>
T* EnclosingOf(const QObject* object) {
  for (QObject* o = object ? object->parent() : nullptr; o; o = o->parent())
    if (auto* found = qobject_cast<T*>(o)) return found;
  return nullptr;
}
