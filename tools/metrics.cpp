#include "tools/metrics.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace velmora::tools {

namespace {

void RequireComparable(const cv::Mat& a, const cv::Mat& b) {
  if (a.empty() || b.empty() || a.size() != b.size() || a.type() != b.type() ||
      a.depth() != CV_32F)
    throw std::invalid_argument("comparison needs two non-empty CV_32F pictures of one size and type");
}

// The rectangle left once `margin` pixels are taken off every side.
cv::Rect Interior(const cv::Mat& m, int margin) {
  if (margin < 0 || 2 * margin >= m.rows || 2 * margin >= m.cols)
    throw std::invalid_argument("the border leaves nothing to compare");
  return {margin, margin, m.cols - 2 * margin, m.rows - 2 * margin};
}

double SquaredErrorOver(const cv::Mat& a, const cv::Mat& b) {
  const double norm = cv::norm(a, b, cv::NORM_L2);
  return norm * norm;
}

double PsnrFrom(double sse, double values) {
  if (sse <= 0.0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(values / sse);
}

double ValueCount(const cv::Rect& r, int channels) {
  return static_cast<double>(r.area()) * channels;
}

}  // namespace

double SumSquaredError(const cv::Mat& a, const cv::Mat& b, int border) {
  RequireComparable(a, b);
  const cv::Rect r = Interior(a, border);
  return SquaredErrorOver(a(r), b(r));
}

double Psnr(const cv::Mat& a, const cv::Mat& b, int border) {
  RequireComparable(a, b);
  const cv::Rect r = Interior(a, border);
  return PsnrFrom(SquaredErrorOver(a(r), b(r)), ValueCount(r, a.channels()));
}

double BestShiftSumSquaredError(const cv::Mat& test, const cv::Mat& reference, int maxShift,
                                int border) {
  RequireComparable(test, reference);
  if (maxShift < 0) throw std::invalid_argument("the largest shift must not be negative");
  const cv::Rect r = Interior(reference, border + maxShift);
  double best = std::numeric_limits<double>::infinity();
  for (int dy = -maxShift; dy <= maxShift; ++dy)
    for (int dx = -maxShift; dx <= maxShift; ++dx)
      best = std::min(best, SquaredErrorOver(test(r + cv::Point(dx, dy)), reference(r)));
  return best;
}

double BestShiftPsnr(const cv::Mat& test, const cv::Mat& reference, int maxShift, int border) {
  const double sse = BestShiftSumSquaredError(test, reference, maxShift, border);
  return PsnrFrom(sse, ValueCount(Interior(reference, border + maxShift), reference.channels()));
}

double KernelSimilarity(const cv::Mat& estimate, const cv::Mat& truth) {
  if (estimate.empty() || truth.empty() || estimate.channels() != 1 || truth.channels() != 1)
    throw std::invalid_argument("kernel similarity needs two non-empty single-channel kernels");
  cv::Mat e, t;
  estimate.convertTo(e, CV_32F);
  truth.convertTo(t, CV_32F);
  const double norms = cv::norm(e) * cv::norm(t);
  if (!(norms > 0.0) || !std::isfinite(norms)) return 0.0;
  // Zero padding by the truth's size less one gives every overlap, so the
  // correlation surface holds all relative shifts.
  cv::Mat padded, correlation;
  cv::copyMakeBorder(e, padded, t.rows - 1, t.rows - 1, t.cols - 1, t.cols - 1,
                     cv::BORDER_CONSTANT, cv::Scalar(0));
  cv::matchTemplate(padded, t, correlation, cv::TM_CCORR);
  double peak = 0.0;
  cv::minMaxLoc(correlation, nullptr, &peak);
  return peak / norms;
}

cv::Size KernelExtent(const cv::Mat& kernel, double share) {
  if (kernel.empty() || kernel.type() != CV_32F || kernel.rows % 2 == 0 || kernel.cols % 2 == 0)
    throw std::invalid_argument("a kernel's extent needs a single-channel float kernel with odd sides");
  double peak = 0.0;
  cv::minMaxLoc(kernel, nullptr, &peak);
  int farRow = 0, farCol = 0;
  for (int i = 0; i < kernel.rows; ++i)
    for (int j = 0; j < kernel.cols; ++j)
      if (peak > 0.0 && kernel.at<float>(i, j) >= share * peak) {
        farRow = std::max(farRow, std::abs(i - kernel.rows / 2));
        farCol = std::max(farCol, std::abs(j - kernel.cols / 2));
      }
  return {2 * farCol + 1, 2 * farRow + 1};
}

}  // namespace velmora::tools
