// What the input page does beyond showing the picture: a left drag on it
// draws the region of interest, which the document's model then holds, and
// a right click clears it; a region set elsewhere (the wizard) is shown.
#pragma once

#include <QObject>
#include <QRect>

#include "frontend/job.h"

class QWidget;
class DocumentModel;
class ImageLabel;
class PictureView;

class InputPage : public QObject {
  Q_OBJECT

 public:
  // page: the page (the parent of boxes); label and view: its picture.
  InputPage(QWidget* page, ImageLabel* label, PictureView* view);

  // The document's model (not owned), whose region the page draws and
  // follows.
  void setModel(DocumentModel* model);

  const velmora::DeblurRegion& region() const { return region_; }
  bool regionSelected() const { return selected_; }
  // The region on the label as it is shown now.
  QRect regionInLabel() const;

 private:
  void setRegion(const velmora::DeblurRegion& region, bool selected);
  void onSelectionMoved(const QRect& rect);
  void onSelectionReleased();
  void setSelected(bool selected);
  // Whether the region is large enough for the document's blur size; says
  // "Too small" for a real but too small drag.
  bool checkRegion();

  QWidget* page_;
  ImageLabel* label_;
  PictureView* view_;
  DocumentModel* model_ = nullptr;
  velmora::DeblurRegion region_;
  bool selected_ = false;
};
