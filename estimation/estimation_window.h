// Which part of a large picture the sharp estimator estimates the kernel on:
// the kernel steps need strong edges, not every pixel, and clipped
// highlights break the blur model (a saturated streak is not the blurred
// light it hides).
#pragma once

namespace velmora {

struct EstimationWindow {
  int row0 = 0, col0 = 0, rows = 0, cols = 0;
};

// The whole picture when it has at most maxPixels pixels. Otherwise a
// window of about maxPixels pixels, shaped like the picture, with the most
// strong-edge magnitude away from saturated pixels, among the windows with
// at most 2 % of their pixels saturated (or the least saturated when none
// qualifies). grey: rows x cols in [0, 1]; source: the picture's channels
// (1 or 3 planes of rows x cols) for saturation.
EstimationWindow ChooseEstimationWindow(const float* grey, const float* source, int rows, int cols,
                                        int channels, double maxPixels);

}  // namespace velmora
