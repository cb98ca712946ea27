// The plug-in's dialog: blur size (Auto, Small, Medium, Large or a custom
// odd size), estimator, smoothness, Reduce Ringing, Reduce Noise and
// Protect Highlights; "Estimate" runs the job in the dialog, with a
// progress bar its Cancel button stops, and shows the estimated kernel;
// OK restores the layer (with the job already run, when the settings have
// not changed since).
#pragma once

#include <optional>

#include "gimp/job.h"
#include "gimp/layer.h"

namespace velmora::gimp {

// What the user chose: the settings, and the outcome of a job already run
// with exactly those settings (empty when there is none to reuse).
struct DialogChoice {
  Settings settings;
  std::optional<DeblurOutcome> estimated;
};

// What the dialog works on: the layer's pixels and its selection's region.
struct DialogSubject {
  const LayerPixels* layer = nullptr;
  std::optional<DeblurRegion> region;
};

// Shows the dialog; the choice when the user pressed OK, else none.
std::optional<DialogChoice> RunDialog(const Settings& start, const DialogSubject& subject);

}  // namespace velmora::gimp
