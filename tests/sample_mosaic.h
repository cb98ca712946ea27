// Test pictures with the texture of photographs, made from the sample
// photographs in the repository.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <string>

namespace velmora::testing {

// The sample photographs in grey on the 0-1 scale, tiled row by row (every
// other one mirrored) over a rows x cols picture.
inline cv::Mat SampleMosaic(int rows, int cols) {
  cv::Mat mosaic(rows, cols, CV_32F, cv::Scalar(0.5));
  const char* names[3] = {"coffee", "chelsea", "astronaut"};
  int top = 0, left = 0, rowHeight = 0;
  for (int t = 0; top < rows; ++t) {
    const cv::Mat photo =
        cv::imread(std::string(VELMORA_SOURCE_DIR "/samples/") + names[t % 3] + ".png", cv::IMREAD_GRAYSCALE);
    cv::Mat unit;
    photo.convertTo(unit, CV_32F, 1.0 / 255);
    if (t % 2) cv::flip(unit, unit, 1);
    if (left >= cols) {
      left = 0;
      top += rowHeight;
      rowHeight = 0;
      if (top >= rows) break;
    }
    const cv::Rect into(left, top, std::min(unit.cols, cols - left), std::min(unit.rows, rows - top));
    unit(cv::Rect(0, 0, into.width, into.height)).copyTo(mosaic(into));
    left += unit.cols;
    rowHeight = std::max(rowHeight, unit.rows);
  }
  return mosaic;
}

}  // namespace velmora::testing
