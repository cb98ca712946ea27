// What a document holds for its pages and panel: the picture, the settings
// and options of the next job, the region of interest, and the view shared
// by the pages (zoom and scroll position). Views are given the model and
// follow its change signals; they never look it up through their parents.
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

  // The picture, blue-green-red at its own depth, full size.
  const cv::Mat& picture() const { return picture_; }
  void setPicture(const cv::Mat& picture) { picture_ = picture; }

  // The settings and options of the next job, as the panel's controls say.
  // With options().findBlurSize (the Auto blur size) the kernel size in the
  // settings is not used: each job is given the AutoBlurBound of its
  // picture or region instead.
  const DeblurSettings& settings() const { return settings_; }
  void setSettings(const DeblurSettings& settings) { settings_ = settings; }
  const velmora::JobOptions& options() const { return options_; }
  void setOptions(const velmora::JobOptions& options) { options_ = options; }

  // What the picture's file says beyond its pixels, written into every
  // result saved; the colour space its pixels are in (invalid: sRGB).
  const velmora::io::PictureMetadata& metadata() const { return metadata_; }
  void setMetadata(const velmora::io::PictureMetadata& metadata) { metadata_ = metadata; }
  const QColorSpace& colourSpace() const { return colourSpace_; }
  void setColourSpace(const QColorSpace& space) { colourSpace_ = space; }

  const velmora::DeblurRegion& region() const { return region_; }
  bool regionSelected() const { return regionSelected_; }
  void setRegion(const velmora::DeblurRegion& region, bool selected);

  // A kernel the user loaded (CV_32F, summing to 1): the next Run restores
  // the whole picture with it instead of estimating one. Empty: estimate.
  const cv::Mat& knownKernel() const { return knownKernel_; }
  const QString& knownKernelName() const { return knownKernelName_; }
  // Takes a copy; an empty kernel goes back to estimating.
  void setKnownKernel(const cv::Mat& kernel, const QString& name);

  // The view the pages share.
  float zoom() const { return zoom_; }
  void setZoom(float z);
  int scrollX() const { return scrollX_; }
  int scrollY() const { return scrollY_; }
  void setScroll(int x, int y);

 signals:
  void regionChanged();
  void knownKernelChanged();
  void zoomChanged();
  void scrollChanged();

 private:
  cv::Mat picture_;
  DeblurSettings settings_;
  velmora::JobOptions options_;
  velmora::io::PictureMetadata metadata_;
  QColorSpace colourSpace_;
  velmora::DeblurRegion region_;
  bool regionSelected_ = false;
  cv::Mat knownKernel_;
  QString knownKernelName_;
  float zoom_ = 1.0f;
  int scrollX_ = 0;
  int scrollY_ = 0;
};
