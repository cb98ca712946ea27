#include "estimation/estimation_window.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "pipeline/spectral.h"

namespace velmora {

namespace {

constexpr float kSaturated = 0.98f;
constexpr double kStrongQuantile = 0.9;  // edges above this share of gradient magnitudes count
constexpr float kLeastStrongEdge = 0.02f;
constexpr double kMostSaturated = 0.02;
constexpr int kSearchCells = 256;  // the longer side's cells in the search grid

// Pixels at or near a clipped sample in any channel.
cv::Mat SaturationMask(const float* source, int rows, int cols, int channels) {
  cv::Mat mask(rows, cols, CV_8U, cv::Scalar(0));
  const size_t plane = GridSize(rows, cols);
  for (int c = 0; c < channels; ++c) {
    const float* p = source + plane * c;
    for (int i = 0; i < rows; ++i) {
      uchar* m = mask.ptr<uchar>(i);
      const float* row = p + GridSize(i, cols);
      for (int j = 0; j < cols; ++j)
        if (row[j] >= kSaturated) m[j] = 1;
    }
  }
  cv::dilate(mask, mask, cv::Mat::ones(5, 5, CV_8U));
  return mask;
}

// Gradient magnitude by forward differences, 0 on the last row and column.
cv::Mat GradientMagnitude(const float* grey, int rows, int cols) {
  cv::Mat magnitude(rows, cols, CV_32F, cv::Scalar(0));
  for (int i = 0; i + 1 < rows; ++i) {
    const float* row = grey + GridSize(i, cols);
    const float* below = row + cols;
    float* out = magnitude.ptr<float>(i);
    for (int j = 0; j + 1 < cols; ++j) {
      const float dx = row[j + 1] - row[j], dy = below[j] - row[j];
      out[j] = std::sqrt(dx * dx + dy * dy);
    }
  }
  return magnitude;
}

float StrongEdgeThreshold(const cv::Mat& magnitude) {
  constexpr int kBins = 1024;
  constexpr float kTop = 1.5f;  // above sqrt 2: the largest a [0, 1] picture has
  std::vector<size_t> histogram(kBins, 0);
  for (int i = 0; i < magnitude.rows; ++i) {
    const float* row = magnitude.ptr<float>(i);
    for (int j = 0; j < magnitude.cols; ++j)
      ++histogram[std::min(kBins - 1, static_cast<int>(row[j] / kTop * kBins))];
  }
  const double wanted = kStrongQuantile * magnitude.total();
  double seen = 0.0;
  int bin = 0;
  while (bin < kBins - 1 && seen + histogram[bin] < wanted) seen += histogram[bin++];
  return std::max(kLeastStrongEdge, (bin + 1) * kTop / kBins);
}

}  // namespace

EstimationWindowSearch::EstimationWindowSearch(const float* grey, const float* source, int rows,
                                               int cols, int channels)
    : rows_(rows), cols_(cols) {
  // Per search cell: strong-edge magnitude away from clipping, and clipping.
  const cv::Mat magnitude = GradientMagnitude(grey, rows, cols);
  const float strong = StrongEdgeThreshold(magnitude);
  const cv::Mat saturated = SaturationMask(source, rows, cols, channels);
  cell_ = std::max(1, (std::max(rows, cols) + kSearchCells - 1) / kSearchCells);
  const int cellRows = (rows + cell_ - 1) / cell_, cellCols = (cols + cell_ - 1) / cell_;
  cv::Mat edges(cellRows, cellCols, CV_64F, cv::Scalar(0)), clipped(cellRows, cellCols, CV_64F, cv::Scalar(0));
  for (int i = 0; i < rows; ++i) {
    const float* m = magnitude.ptr<float>(i);
    const uchar* s = saturated.ptr<uchar>(i);
    double* e = edges.ptr<double>(i / cell_);
    double* c = clipped.ptr<double>(i / cell_);
    for (int j = 0; j < cols; ++j) {
      if (s[j]) c[j / cell_] += 1.0;
      else if (m[j] >= strong) e[j / cell_] += m[j];
    }
  }
  cv::integral(edges, edgeSum_, CV_64F);
  cv::integral(clipped, clipSum_, CV_64F);
}

EstimationWindow EstimationWindowSearch::Window(double maxPixels) const {
  const int rows = rows_, cols = cols_;
  EstimationWindow whole{0, 0, rows, cols};
  if (static_cast<double>(rows) * cols <= maxPixels) return whole;
  EstimationWindow w;
  w.rows = std::clamp(static_cast<int>(std::lround(std::sqrt(maxPixels * rows / cols))), 1, rows);
  w.cols = std::clamp(static_cast<int>(maxPixels / w.rows), 1, cols);
  if (w.cols == cols) w.rows = std::clamp(static_cast<int>(maxPixels / w.cols), 1, rows);

  auto box = [](const cv::Mat& sum, int r0, int c0, int r1, int c1) {
    return sum.at<double>(r1, c1) - sum.at<double>(r0, c1) - sum.at<double>(r1, c0) + sum.at<double>(r0, c0);
  };
  const int cellRows = edgeSum_.rows - 1, cellCols = edgeSum_.cols - 1;
  const int spanRows = std::max(1, w.rows / cell_), spanCols = std::max(1, w.cols / cell_);
  const double area = static_cast<double>(w.rows) * w.cols;
  double bestEdges = -1.0, bestClipped = std::numeric_limits<double>::infinity();
  for (int r = 0; r + spanRows <= cellRows; ++r)
    for (int c = 0; c + spanCols <= cellCols; ++c) {
      const double e = box(edgeSum_, r, c, r + spanRows, c + spanCols);
      // Windows within the clipping allowance compete on edges; the rest
      // only on how little they clip.
      const double clip = std::max(kMostSaturated * area, box(clipSum_, r, c, r + spanRows, c + spanCols));
      if (clip < bestClipped || (clip == bestClipped && e > bestEdges)) {
        bestClipped = clip;
        bestEdges = e;
        w.row0 = std::min(r * cell_, rows - w.rows);
        w.col0 = std::min(c * cell_, cols - w.cols);
      }
    }
  return w;
}

EstimationWindow ChooseEstimationWindow(const float* grey, const float* source, int rows, int cols,
                                        int channels, double maxPixels) {
  if (static_cast<double>(rows) * cols <= maxPixels) return {0, 0, rows, cols};
  return EstimationWindowSearch(grey, source, rows, cols, channels).Window(maxPixels);
}

}  // namespace velmora
