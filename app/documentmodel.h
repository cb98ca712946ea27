// What a document holds for its pages and panel: the settings and options
// of the next job, the region of interest, and the view shared by the pages
// (zoom and scroll position). Views are given the model and follow its
// change signals; they never look it up through their parents.
#pragma once

#include <QColorSpace>
#include <QObject>
#include <QString>
#include <opencv2/core.hpp>

#include "io/metadata.h"
#include "pipeline/engine.h"
#include "frontend/job.h"

// The largest blur an Auto job may find, height by width; 0 where the
// picture or region leaves no room for one.
struct BlurBound {
  int height = 0;
  int width = 0;
};

// What a rows x cols picture leaves room for, or, given a region, what the
// region does. A region's side is taken as the smaller of what the region
// rule measures and what the job cuts out, so that both accept the bound.
BlurBound AutoBlurBound(int rows, int cols, const velmora::DeblurRegion* region = nullptr);

class DocumentModel : public QObject {
  Q_OBJECT

 public:
  explicit DocumentModel(QObject* parent = nullptr) : QObject(parent) {}

  // Written by the panel's controls (settingsChanged follows when set
  // through setSettings; the panel writes single fields as they change).
  // With options.findBlurSize (the Auto blur size) the kernel size in
  // settings is not used: each job is given the AutoBlurBound of its
  // picture or region instead.
  DeblurSettings settings;
  velmora::JobOptions options;

  // What the picture's file says beyond its pixels, written into every
  // result saved; the colour space its pixels are in (invalid: sRGB).
  velmora::io::PictureMetadata metadata;
  QColorSpace colourSpace;

  velmora::DeblurRegion region;
  bool regionSelected = false;
  void setRegion(const velmora::DeblurRegion& r, bool selected);

  // A kernel the user loaded (CV_32F, summing to 1): the next Run restores
  // the whole picture with it instead of estimating one. Empty: estimate.
  cv::Mat knownKernel;
  QString knownKernelName;

  float zoom = 1.0f;
  void setZoom(float z);

  int scrollX = 0;
  int scrollY = 0;
  void setScroll(int x, int y);

 signals:
  void regionChanged();
  void zoomChanged();
  void scrollChanged();
};
