// The picture of a page and how it is looked at: the zoom and scroll
// position the document's pages share, panning, and, on result pages, the
// input shown in place of the result or beside it (split at a divider).
// It drives the page's label, scroll area and zoom controls; the pages
// decide what is shown.
#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSizeF>
#include <opencv2/core.hpp>

#include "frontend/job.h"

class QAbstractButton;
class QLabel;
class QWidget;
class DocumentModel;
class ImageLabel;
class ImageScrollArea;

class PictureView : public QObject {
  Q_OBJECT

 public:
  // The page's widgets the view drives (not owned).
  struct Controls {
    ImageLabel* label = nullptr;
    ImageScrollArea* area = nullptr;
    QAbstractButton* zoomIn = nullptr;
    QLabel* zoomText = nullptr;
    QAbstractButton* zoomOut = nullptr;
  };

  static constexpr float kZoomStep = 1.2f;
  static constexpr float kZoomMin = 0.2f;
  static constexpr float kZoomMax = 5.0f;

  // page: the widget holding the controls; the zoom keys work while it is
  // shown.
  PictureView(QWidget* page, const Controls& controls);

  // The document's model (not owned): its zoom, scroll position and colour
  // space. Without one the picture is shown at 1.0x and does not zoom.
  void setModel(DocumentModel* model);

  // Shows bgr (any depth) in the screen's sRGB, converted from the model's
  // colour space.
  void showImage(const cv::Mat& bgr);
  // The picture shown (the result while comparing too), in sRGB.
  const QImage& picture() const { return picture_; }

  // The picture compared with (the input), converted as showImage does.
  void setComparison(const cv::Mat& bgr);
  bool hasComparison() const { return !comparison_.isNull(); }
  // Before and after: comparing shows the comparison in place of the
  // picture, or, split, the comparison left of the divider (at `split` of
  // the width) and the picture right of it.
  void setComparing(bool comparing);
  void setSplitShown(bool split);
  bool comparing() const { return comparing_ && hasComparison(); }
  bool splitView() const { return comparing() && splitShown_; }
  void setSplit(double split);
  double split() const { return split_; }

  // Text in place of the picture ("Generating..."): a screen reader then
  // says the text, not "Picture".
  void showText(const QString& text);
  // Shows the picture again at the model's zoom.
  void refresh();

  float zoom() const;
  void updateZoomControls();
  // Puts the model's scroll position back on the scroll bars.
  void restoreScroll();
  // One step in or out, about the viewport's centre, within the limits.
  void zoomIn();
  void zoomOut();
  // Zooms in (steps > 0) or out, keeping the picture point under `at` (in
  // the scroll area's viewport) where it is; without one, the centre.
  // Nothing while busy.
  void zoomBy(int steps, QPoint at = QPoint(-1, -1));
  void zoomTo(float z, QPoint at = QPoint(-1, -1));
  // While busy (the page's job runs) the wheel and the zoom step keys
  // leave the zoom alone.
  void setBusy(bool busy) { busy_ = busy; }

  // The region outlined on the picture, relative to its size.
  void setOverlayRegion(const velmora::DeblurRegion& region);
  // A rectangle on the label as a region of the picture, and back.
  velmora::DeblurRegion labelToRegion(const QRect& rect) const;
  QRect regionToLabel(const velmora::DeblurRegion& region) const;
  // The picture's size as shown: zoom x picture size.
  QSizeF shownSize() const;

 private:
  void addZoomKeys();
  QImage shownFrame(float zoom) const;
  void refreshOverlay();
  void onPointerDragged(const QPoint& position, const QPoint& global, bool started, bool panOnly);

  QWidget* page_;
  Controls controls_;
  DocumentModel* model_ = nullptr;
  QImage picture_;
  cv::Mat rgb_;  // the pixels behind picture_
  QImage comparison_;
  cv::Mat comparisonRgb_;
  bool comparing_ = false;
  bool splitShown_ = false;
  double split_ = 0.5;
  bool busy_ = false;
  velmora::DeblurRegion overlay_;
  QPoint panLast_;
};
