// Mapping between positions on a shown (zoomed) picture label and positions
// relative to the picture, as the viewer pages use them.
#pragma once

#include <QPointF>
#include <QPoint>
#include <QSize>

// shown: the size of the picture as shown (zoom x picture size, single
// precision); label: the label's current size. A picture larger than its
// label is centred on it, so label positions are offset by half the excess.
QPointF LabelToRelative(QPoint point, QSizeF shown, QSize label);
QPoint RelativeToLabel(QPointF relative, QSizeF shown, QSize label);
