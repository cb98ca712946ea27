// The engine's entry as the front ends and the benchmarks call it: Deblur
// with the job's context (stop request, diagnostic sink) and progress cell
// given by the caller, and the estimator's parameters open to tuning.
#pragma once

#include <opencv2/core.hpp>

#include "estimation/estimators.h"
#include "pipeline/numerics.h"
#include "velmora/deblur.h"

namespace velmora {

// What only the benchmarks and tests change.
struct EngineTuning {
  SharpEstimatorParams sharpParams;
};

// A region in pixels, inside the picture.
struct PixelRegion {
  int row0 = 0, col0 = 0, rows = 0, cols = 0;
};

// The region's pixels, clamped to the picture: col0 = trunc(x cols),
// rows = trunc((y + height) rows) - row0 + 1, and so on.
PixelRegion RegionInPixels(const DeblurRegion& region, int rows, int cols);

// Whether the engine can estimate on the region: trunc(rows x height) and
// trunc(cols x width) reach MinimumRegionSide of the kernel's height and
// width.
bool RegionAccepted(const DeblurRegion& region, int rows, int cols, int kernelHeight,
                    int kernelWidth);

// Runs request on picture as Deblur does. context (may be null: lines then
// go to standard output) is made current for the job; progress (may be
// null) receives the percentage.
DeblurOutcome RunRequest(const DeblurRequest& request, const cv::Mat& picture,
                         JobContext* context, ProgressCell* progress,
                         const EngineTuning& tuning = {});

// The engine's results as the job's outcome reports them.
DeblurResult ResultOfEngine(int engineResult, bool knownKernel);

}  // namespace velmora
