#include "app/regionlabel.h"

#include <algorithm>
#include <cstdlib>

QRect NormalisedSelection(QPoint a, QPoint b) {
  return QRect(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::abs(a.x() - b.x()),
               std::abs(a.y() - b.y()));
}

QRect RegionLabel::selectionRect() const { return NormalisedSelection(pressPoint, dragPoint); }
