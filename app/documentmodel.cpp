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

void DocumentModel::setRegion(const velmora::DeblurRegion& r, bool selected) {
  region = r;
  regionSelected = selected;
  emit regionChanged();
}

void DocumentModel::setZoom(float z) {
  if (z == zoom) return;
  zoom = z;
  emit zoomChanged();
}

void DocumentModel::setScroll(int x, int y) {
  if (x == scrollX && y == scrollY) return;
  scrollX = x;
  scrollY = y;
  emit scrollChanged();
}
