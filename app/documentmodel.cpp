#include "app/documentmodel.h"

#include <algorithm>
#include <cmath>

BlurBound AutoBlurBound(int rows, int cols, const velmora::DeblurRegion* region) {
  if (region) {
    const velmora::PixelRegion cut = velmora::RegionInPixels(*region, rows, cols);
    const int measuredRows = static_cast<int>(std::max(0.0, std::trunc(rows * region->height)));
    const int measuredCols = static_cast<int>(std::max(0.0, std::trunc(cols * region->width)));
    rows = std::min(cut.rows, measuredRows);
    cols = std::min(cut.cols, measuredCols);
  }
  return {velmora::LargestBlurSide(rows), velmora::LargestBlurSide(cols)};
}

void DocumentModel::setRegion(const velmora::DeblurRegion& region, bool selected) {
  region_ = region;
  regionSelected_ = selected;
  emit regionChanged();
}

void DocumentModel::setKnownKernel(const cv::Mat& kernel, const QString& name) {
  knownKernel_ = kernel.clone();
  knownKernelName_ = kernel.empty() ? QString() : name;
  emit knownKernelChanged();
}

void DocumentModel::setZoom(float z) {
  if (z == zoom_) return;
  zoom_ = z;
  emit zoomChanged();
}

void DocumentModel::setScroll(int x, int y) {
  if (x == scrollX_ && y == scrollY_) return;
  scrollX_ = x;
  scrollY_ = y;
  emit scrollChanged();
}
