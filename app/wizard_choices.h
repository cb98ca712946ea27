// What the deblurring wizard was told, as it hands it to the document it
// was opened for.
#pragma once

#include "frontend/job.h"

// The blur-size buttons, in the order both the wizard and the document's
// panel count them.
enum BlurPreset : int { kBlurSmall = 0, kBlurMedium = 1, kBlurLarge = 2, kBlurCustom = 3, kBlurAuto = 4 };

struct WizardChoices {
  // The blur-size button chosen.
  int preset = kBlurSmall;
  // The size of the last preset chosen; with Auto it stays, for the
  // document's other choices.
  int kernelHeight = 19;
  int kernelWidth = 19;
  // The wizard asks none of these: Finish gives the document the defaults.
  float gamma = 1.0f;
  float smoothness = 0.04f;
  int reduceRinging = 0;
  int reduceNoise = 0;
  // The picture has clipped lamps or highlights: Protect Highlights goes on.
  // Without them the document keeps the user's choice.
  bool protectHighlights = false;
  // "Deblur a region" with a region drawn large enough.
  bool regionSelected = false;
  velmora::DeblurRegion region;
  // Finished on the region page: the job starts at once.
  bool runNow = false;

  bool autoBlurSize() const { return preset == kBlurAuto; }
};
