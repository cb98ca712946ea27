#include "app/view_geometry.h"

#include <algorithm>
#include <cmath>

namespace {

double ToRelative(int position, float shown, int label) {
  double x = position;
  if (shown > label) x += (shown - label) / 2.0f;
  return x / shown;
}

int ToLabel(double relative, float shown, int label) {
  double x = relative * shown;
  if (shown > label) x -= (shown - label) / 2.0f;
  return static_cast<int>(std::clamp(x, 0.0, static_cast<double>(label)));
}

}  // namespace

QPointF LabelToRelative(QPoint point, QSizeF shown, QSize label) {
  return {ToRelative(point.x(), static_cast<float>(shown.width()), label.width()),
          ToRelative(point.y(), static_cast<float>(shown.height()), label.height())};
}

QPoint RelativeToLabel(QPointF relative, QSizeF shown, QSize label) {
  return {ToLabel(relative.x(), static_cast<float>(shown.width()), label.width()),
          ToLabel(relative.y(), static_cast<float>(shown.height()), label.height())};
}
