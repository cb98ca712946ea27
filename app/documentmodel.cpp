#include "app/documentmodel.h"

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
