// The picture on a viewer page: a RegionLabel. On the input page a
// left-button drag draws the region of interest and a right click clears
// it; result pages show the region's outline once their job has ended.
#pragma once

#include "app/regionlabel.h"

class ImageLabel : public RegionLabel {
  Q_OBJECT

 public:
  explicit ImageLabel(QWidget* parent = nullptr) : RegionLabel(parent) {}
};
