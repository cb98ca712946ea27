// The comparisons behind the restoration tests and the quality benchmark:
// a wrong border, shift or normalisation here would pass bad results.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "tools/metrics.h"
#include "tools/shake.h"

namespace {

using namespace velmora::tools;

cv::Mat Noise(int rows, int cols, int type, uint64_t seed) {
  cv::Mat m(rows, cols, type);
  cv::RNG rng(seed);
  rng.fill(m, cv::RNG::UNIFORM, 0.0, 1.0);
  return m;
}

// b shifted by (dx, dy): a(i, j) = b(i + dy, j + dx), borders replicated.
cv::Mat Shifted(const cv::Mat& b, int dx, int dy) {
  cv::Mat padded;
  const int m = std::max(std::abs(dx), std::abs(dy));
  cv::copyMakeBorder(b, padded, m, m, m, m, cv::BORDER_REPLICATE);
  return padded(cv::Rect(m + dx, m + dy, b.cols, b.rows)).clone();
}

TEST(SumSquaredError, CountsEveryChannelInsideTheBorderOnly) {
  const cv::Mat a(20, 30, CV_32FC3, cv::Scalar(0.5, 0.5, 0.5));
  cv::Mat b = a.clone();
  b.at<cv::Vec3f>(10, 15) = cv::Vec3f(0.6f, 0.3f, 0.5f);
  EXPECT_NEAR(SumSquaredError(a, b, 0), 0.1 * 0.1 + 0.2 * 0.2, 1e-9);
  // The same change on the border is left out.
  cv::Mat c = a.clone();
  c.at<cv::Vec3f>(1, 15) = cv::Vec3f(1, 1, 1);
  EXPECT_EQ(SumSquaredError(a, c, 2), 0.0);
  EXPECT_GT(SumSquaredError(a, c, 1), 0.0);
}

TEST(Psnr, FollowsTheMeanSquaredErrorOfTheInterior) {
  const cv::Mat a(40, 40, CV_32F, cv::Scalar(0.2));
  const cv::Mat b(40, 40, CV_32F, cv::Scalar(0.25));
  const double mse = 0.05 * 0.05;
  EXPECT_NEAR(Psnr(a, b, 0), 10.0 * std::log10(1.0 / mse), 1e-4);
  EXPECT_NEAR(Psnr(a, b, 5), Psnr(a, b, 0), 1e-4);  // uniform error: border does not matter
  EXPECT_EQ(Psnr(a, a, 3), std::numeric_limits<double>::infinity());
  // Twice the error is 6 dB less.
  const cv::Mat far(40, 40, CV_32F, cv::Scalar(0.3));
  EXPECT_NEAR(Psnr(a, b, 0) - Psnr(a, far, 0), 20.0 * std::log10(2.0), 1e-4);
}

TEST(ComparisonInput, RefusesMismatchesAndBordersThatLeaveNothing) {
  const cv::Mat a(20, 20, CV_32F, cv::Scalar(0));
  EXPECT_THROW(SumSquaredError(a, cv::Mat(20, 21, CV_32F, cv::Scalar(0)), 0), std::invalid_argument);
  EXPECT_THROW(SumSquaredError(a, cv::Mat(20, 20, CV_32FC3, cv::Scalar(0)), 0), std::invalid_argument);
  EXPECT_THROW(SumSquaredError(a, cv::Mat(20, 20, CV_8U, cv::Scalar(0)), 0), std::invalid_argument);
  EXPECT_THROW(SumSquaredError(a, a, 10), std::invalid_argument);
  EXPECT_THROW(SumSquaredError(a, a, -1), std::invalid_argument);
  EXPECT_THROW(BestShiftSumSquaredError(a, a, 6, 4), std::invalid_argument);
  EXPECT_THROW(BestShiftSumSquaredError(a, a, -1, 0), std::invalid_argument);
}

TEST(BestShift, FindsACopyShiftedWithinReach) {
  const cv::Mat reference = Noise(60, 70, CV_32FC3, 9);
  for (const cv::Point shift : {cv::Point(3, -2), cv::Point(-4, 4), cv::Point(0, 1)}) {
    SCOPED_TRACE(testing::Message() << "shift " << shift);
    const cv::Mat test = Shifted(reference, -shift.x, -shift.y);
    EXPECT_GT(SumSquaredError(test, reference, 4), 1.0);
    EXPECT_NEAR(BestShiftSumSquaredError(test, reference, 4, 2), 0.0, 1e-9);
    EXPECT_EQ(BestShiftPsnr(test, reference, 4, 2), std::numeric_limits<double>::infinity());
  }
}

TEST(BestShift, DoesNotReachBeyondTheLargestShift) {
  const cv::Mat reference = Noise(60, 70, CV_32F, 4);
  const cv::Mat test = Shifted(reference, 5, 0);
  EXPECT_GT(BestShiftSumSquaredError(test, reference, 4, 0), 1.0);
  EXPECT_NEAR(BestShiftSumSquaredError(test, reference, 5, 0), 0.0, 1e-9);
}

TEST(BestShift, ComparesTheSameInteriorForEveryShift) {
  // An unshifted copy with noise: the best shift is 0, and its error is the
  // error over the interior that the largest shift leaves.
  const cv::Mat reference = Noise(50, 50, CV_32F, 2);
  const cv::Mat test = reference + Noise(50, 50, CV_32F, 3) * 0.01;
  const double interior = SumSquaredError(test, reference, 3 + 2);
  EXPECT_NEAR(BestShiftSumSquaredError(test, reference, 2, 3), interior, 1e-9 * interior);
  const double values = 40.0 * 40.0;
  EXPECT_NEAR(BestShiftPsnr(test, reference, 2, 3), 10.0 * std::log10(values / interior), 1e-6);
}

TEST(KernelSimilarity, IsOneForTheSameKernelAnywhereInTheSquare) {
  const cv::Mat k = GenerateShakeKernel(15, 8);
  EXPECT_NEAR(KernelSimilarity(k, k), 1.0, 1e-5);
  // Shifted inside a larger square: the same kernel up to a shift.
  cv::Mat larger(21, 21, CV_32F, cv::Scalar(0));
  k.copyTo(larger(cv::Rect(1, 5, 15, 15)));
  EXPECT_NEAR(KernelSimilarity(larger, k), 1.0, 1e-5);
  EXPECT_NEAR(KernelSimilarity(k, larger), 1.0, 1e-5);
  // Scale does not matter.
  EXPECT_NEAR(KernelSimilarity(k * 7.0, k), 1.0, 1e-5);
}

TEST(KernelSimilarity, IsLowerForDifferentKernelsAndSymmetric) {
  const cv::Mat a = GenerateShakeKernel(21, 1);
  const cv::Mat b = GenerateShakeKernel(21, 2);
  const double ab = KernelSimilarity(a, b);
  EXPECT_LT(ab, 0.9);
  EXPECT_GT(ab, 0.0);
  EXPECT_NEAR(KernelSimilarity(b, a), ab, 1e-5);
  // Thickening a kernel lowers the similarity, but it stays well above that
  // of an unrelated kernel.
  cv::Mat thick;
  cv::GaussianBlur(a, thick, cv::Size(5, 5), 1.0);
  const double thickened = KernelSimilarity(thick, a);
  EXPECT_LT(thickened, 0.99);
  EXPECT_GT(thickened, ab);
}

TEST(KernelSimilarity, AllZeroKernelIsSimilarToNothing) {
  const cv::Mat k = GenerateShakeKernel(9, 1);
  EXPECT_EQ(KernelSimilarity(cv::Mat(9, 9, CV_32F, cv::Scalar(0)), k), 0.0);
  EXPECT_THROW(KernelSimilarity(cv::Mat(), k), std::invalid_argument);
}

}  // namespace
