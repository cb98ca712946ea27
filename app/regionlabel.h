// A picture label on which a rectangle is dragged with the mouse: the one
// class behind the viewer's and the wizard's picture labels. It knows no
// page or dialog: it reports the drag by signals, and its owner tells it
// whether the mouse draws, which region to outline and how.
#pragma once

#include <QLabel>
#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QSizeF>

class RegionLabel : public QLabel {
  Q_OBJECT

 public:
  explicit RegionLabel(QWidget* parent = nullptr) : QLabel(parent) {}

  // The normalised rectangle between the press and the drag position (a
  // press without drag gives an empty one).
  QRect selectionRect() const;

  // Whether a left drag draws a region and a right click clears it.
  void setDrawingEnabled(bool enabled) { drawingEnabled_ = enabled; }
  // The region outlined once the drag has ended, relative to the picture
  // shown at `shown` size; without one, the dragged rectangle itself.
  void setRelativeRegion(const QRectF& region, QSizeF shown);
  // Input look (red outline on a white veil) or result look (green outline).
  void setOutlineOnly(bool outlineOnly) { outlineOnly_ = outlineOnly; }
  // Nothing is outlined while hidden (the page's job runs).
  void setOverlayHidden(bool hidden);
  // While held (Space), a left drag pans instead of drawing.
  void setPanKeyHeld(bool held) { panKeyHeld_ = held; }

  // A finished region is to be drawn; the owner decides by its rule.
  bool hasRegion() const { return hasRegion_; }
  void setHasRegion(bool has);

 signals:
  // A left press or a drag: the rectangle so far, in label coordinates.
  void selectionMoved(const QRect& rect);
  // The left button was released; the owner then decides by its rule
  // whether a region stays (setHasRegion).
  void selectionReleased(const QRect& rect);
  // A right click cleared the region.
  void selectionCleared();
  // A drag that draws no region: the left button where the label draws
  // none, the middle button anywhere, or the left with the pan key held
  // (panOnly then). Positions in the label and on the screen; started on
  // the press.
  void pointerDragged(const QPoint& position, const QPoint& global, bool started, bool panOnly);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  bool selecting_ = false;  // the left button is down and a rectangle is dragged
  bool hasRegion_ = false;
  QPoint pressPoint_;
  QPoint dragPoint_;
  bool drawingEnabled_ = false;
  bool outlineOnly_ = false;
  bool overlayHidden_ = false;
  bool panKeyHeld_ = false;
  bool panning_ = false;  // the press that started this drag pans
  bool panOnly_ = false;
  bool hasRelativeRegion_ = false;
  QRectF relativeRegion_;
  QSizeF shown_;
};

// The selection rectangle of two label points.
QRect NormalisedSelection(QPoint a, QPoint b);
