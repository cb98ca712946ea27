// The picture on the wizard's region page, on which the region is drawn: a
// RegionLabel.
#pragma once

#include "app/regionlabel.h"

class WizardImageLabel : public RegionLabel {
  Q_OBJECT

 public:
  explicit WizardImageLabel(QWidget* parent = nullptr) : RegionLabel(parent) {}
};
