// Which part of a large picture the sharp estimator estimates the kernel on:
// the kernel steps need strong edges, not every pixel, and clipped
// highlights break the blur model (a saturated streak is not the blurred
// light it hides).
#pragma once

#include <opencv2/core.hpp>

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

// The same choice for several window sizes over one picture: the edge and
// clipping tallies are made once (a pass over the picture), each window
// then costs a search over a grid of at most 256 cells a side.
class EstimationWindowSearch {
 public:
  EstimationWindowSearch(const float* grey, const float* source, int rows, int cols, int channels);
  EstimationWindow Window(double maxPixels) const;

 private:
  int rows_, cols_, cell_ = 1;
  cv::Mat edgeSum_, clipSum_;  // integral images over the search cells
};

}  // namespace velmora
