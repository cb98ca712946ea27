// The camera-shake generator and the blur: the test pictures of the whole
// suite and of the quality benchmark are only as trustworthy as these.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <stdexcept>

#include "tools/shake.h"

namespace {

using velmora::tools::BlurImage;
using velmora::tools::GenerateShakeKernel;

// A picture with detail everywhere and no symmetry, so any shift shows.
cv::Mat Texture(int rows, int cols, int channels) {
  cv::Mat image(rows, cols, CV_32FC(channels));
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      for (int c = 0; c < channels; ++c)
        image.ptr<float>(i)[j * channels + c] =
            0.5f + 0.4f * std::sin(0.37f * i + 0.11f * j * j / cols + c) * std::cos(0.23f * j + 0.05f * i);
  return image;
}

cv::Point2d CentreOfMass(const cv::Mat& kernel) {
  double r = 0, c = 0, m = 0;
  for (int i = 0; i < kernel.rows; ++i)
    for (int j = 0; j < kernel.cols; ++j) {
      const double w = kernel.at<float>(i, j);
      r += w * i;
      c += w * j;
      m += w;
    }
  return {c / m, r / m};
}

double MaxAbsDifference(const cv::Mat& a, const cv::Mat& b) { return cv::norm(a, b, cv::NORM_INF); }

class ShakeKernelShape : public ::testing::TestWithParam<int> {};

TEST_P(ShakeKernelShape, IsANormalisedNonNegativeCentredKernelOfTheAskedSize) {
  const int size = GetParam();
  for (uint64_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    const cv::Mat k = GenerateShakeKernel(size, seed);
    ASSERT_EQ(k.type(), CV_32F);
    ASSERT_EQ(k.rows, size);
    ASSERT_EQ(k.cols, size);
    double lowest = 0.0;
    cv::minMaxLoc(k, &lowest);
    EXPECT_GE(lowest, 0.0);
    EXPECT_NEAR(cv::sum(k)[0], 1.0, 1e-5);
    const cv::Point2d centre = CentreOfMass(k);
    const double middle = (size - 1) / 2.0;
    EXPECT_NEAR(centre.x, middle, 1e-3);
    EXPECT_NEAR(centre.y, middle, 1e-3);
  }
}

TEST_P(ShakeKernelShape, SpansAGoodShareOfTheSizeWithoutFillingIt) {
  const int size = GetParam();
  for (uint64_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    const cv::Mat k = GenerateShakeKernel(size, seed);
    double top = 0.0;
    cv::minMaxLoc(k, nullptr, &top);
    const cv::Rect extent = cv::boundingRect(k > top * 1e-3);
    EXPECT_GE(std::max(extent.width, extent.height), size / 2);
    // A trajectory is a thin path, not a blob: most of the square is empty
    // (too few taps below 11 to tell).
    if (size >= 11) {
      EXPECT_LT(cv::countNonZero(k > top * 1e-3), size * size / 2);
    }
  }
}

// Sweeps: normalised and centred like the hand-held paths, spanning at
// least half the square yet thin, and not the hand-held kernel of the seed.
TEST_P(ShakeKernelShape, SweepsAreLongThinCentredPaths) {
  const int size = GetParam();
  if (size < 11) GTEST_SKIP() << "too few taps to tell a path's shape";
  for (uint64_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    const cv::Mat k = GenerateShakeKernel(size, seed, velmora::tools::ShakeKind::kSweep);
    EXPECT_NEAR(cv::sum(k)[0], 1.0, 1e-5);
    const cv::Point2d centre = CentreOfMass(k);
    EXPECT_NEAR(centre.x, (size - 1) / 2.0, 1e-3);
    EXPECT_NEAR(centre.y, (size - 1) / 2.0, 1e-3);
    double top = 0.0;
    cv::minMaxLoc(k, nullptr, &top);
    const cv::Rect extent = cv::boundingRect(k > top * 1e-3);
    EXPECT_GE(std::max(extent.width, extent.height), size / 2);
    EXPECT_LT(cv::countNonZero(k > top * 1e-3), size * 4);  // a line, not an area
    EXPECT_GT(MaxAbsDifference(k, GenerateShakeKernel(size, seed)), 1e-3);
  }
}

INSTANTIATE_TEST_SUITE_P(OddSizes, ShakeKernelShape, ::testing::Values(3, 11, 21, 41));

TEST(ShakeKernelSeeds, SameSeedSameKernelOtherSeedOtherKernel) {
  const cv::Mat a = GenerateShakeKernel(21, 42);
  EXPECT_EQ(MaxAbsDifference(a, GenerateShakeKernel(21, 42)), 0.0);
  EXPECT_GT(MaxAbsDifference(a, GenerateShakeKernel(21, 43)), 1e-3);
  EXPECT_GT(MaxAbsDifference(GenerateShakeKernel(21, 0), GenerateShakeKernel(21, ~0ull)), 1e-3);
}

TEST(ShakeKernelSeeds, TheSampleKernelIsStillWhatItsSeedGives) {
  // samples/README names the seed that made the committed sample pair; a
  // change of the generator must not silently contradict it.
  const cv::Mat stored = cv::imread(VELMORA_SOURCE_DIR "/samples/coffee_kernel.png", cv::IMREAD_UNCHANGED);
  ASSERT_EQ(stored.type(), CV_16U);
  const cv::Mat k = GenerateShakeKernel(21, 4);
  double top = 0.0;
  cv::minMaxLoc(k, nullptr, &top);
  cv::Mat expected;
  k.convertTo(expected, CV_16U, 65535.0 / top);
  EXPECT_LE(cv::norm(stored, expected, cv::NORM_INF), 1.0);
}

TEST(ShakeKernelSeeds, RefusesEvenAndTinySizes) {
  EXPECT_THROW(GenerateShakeKernel(20, 1), std::invalid_argument);
  EXPECT_THROW(GenerateShakeKernel(1, 1), std::invalid_argument);
  EXPECT_THROW(GenerateShakeKernel(-3, 1), std::invalid_argument);
}

TEST(BlurImageOrientation, CentredImpulseLeavesThePictureUnchanged) {
  for (int channels : {1, 3}) {
    const cv::Mat sharp = Texture(40, 50, channels);
    cv::Mat impulse(7, 9, CV_32F, cv::Scalar(0));
    impulse.at<float>(3, 4) = 1.0f;
    EXPECT_LT(MaxAbsDifference(BlurImage(sharp, impulse, 0.0, 1), sharp), 1e-6) << channels;
  }
}

TEST(BlurImageOrientation, OffCentreTapShiftsThePictureByItsOffset) {
  const cv::Mat sharp = Texture(40, 50, 1);
  // Tap at (r, c) = (1, 6) in a 7 x 9 kernel: offset (r - 3, c - 4) = (-2, +2),
  // so blurred(i, j) = sharp(i + 2, j - 2), away from the replicated border.
  cv::Mat tap(7, 9, CV_32F, cv::Scalar(0));
  tap.at<float>(1, 6) = 1.0f;
  const cv::Mat blurred = BlurImage(sharp, tap, 0.0, 1);
  const cv::Rect inner(4, 4, sharp.cols - 8, sharp.rows - 8);
  const cv::Mat expected = sharp(inner + cv::Point(-2, 2));
  EXPECT_LT(MaxAbsDifference(blurred(inner), expected), 1e-6);
}

TEST(BlurImageOrientation, ConvolvesRatherThanCorrelates) {
  // Two taps of different weight: a correlation would put the heavier copy
  // on the wrong side.
  cv::Mat sharp(21, 21, CV_32F, cv::Scalar(0));
  sharp.at<float>(10, 10) = 1.0f;
  cv::Mat k(3, 5, CV_32F, cv::Scalar(0));
  k.at<float>(1, 4) = 0.75f;  // offset (0, +2)
  k.at<float>(0, 2) = 0.25f;  // offset (-1, 0)
  const cv::Mat blurred = BlurImage(sharp, k, 0.0, 1);
  EXPECT_NEAR(blurred.at<float>(10, 12), 0.75f, 1e-6);
  EXPECT_NEAR(blurred.at<float>(9, 10), 0.25f, 1e-6);
  EXPECT_NEAR(cv::sum(blurred)[0], 1.0, 1e-5);
}

TEST(BlurImageBorders, ReplicatesTheEdgeInsteadOfDarkening) {
  const cv::Mat grey(30, 30, CV_32FC3, cv::Scalar(0.6, 0.6, 0.6));
  const cv::Mat blurred = BlurImage(grey, GenerateShakeKernel(11, 5), 0.0, 1);
  EXPECT_LT(MaxAbsDifference(blurred, grey), 1e-5);
}

TEST(BlurImageNoise, HasTheAskedStandardDeviationAndFollowsTheSeed) {
  const double sigma = 0.02;
  const cv::Mat grey(256, 256, CV_32FC3, cv::Scalar(0.5, 0.5, 0.5));
  const cv::Mat k = GenerateShakeKernel(9, 3);
  const cv::Mat noisy = BlurImage(grey, k, sigma, 77);
  cv::Scalar mean, deviation;
  cv::meanStdDev(noisy.reshape(1), mean, deviation);
  EXPECT_NEAR(mean[0], 0.5, 0.002);
  EXPECT_NEAR(deviation[0], sigma, 0.03 * sigma);
  EXPECT_EQ(MaxAbsDifference(noisy, BlurImage(grey, k, sigma, 77)), 0.0);
  EXPECT_GT(MaxAbsDifference(noisy, BlurImage(grey, k, sigma, 78)), sigma);
  // Values are not clamped: noise around 0 goes below 0.
  double lowest = 0.0;
  cv::minMaxLoc(BlurImage(cv::Mat(64, 64, CV_32F, cv::Scalar(0)), k, sigma, 1), &lowest);
  EXPECT_LT(lowest, 0.0);
}

TEST(BlurImageInput, RefusesWhatItCannotBlur) {
  const cv::Mat k = GenerateShakeKernel(5, 1);
  EXPECT_THROW(BlurImage(cv::Mat(), k, 0.0, 1), std::invalid_argument);
  EXPECT_THROW(BlurImage(cv::Mat(20, 20, CV_8UC3), k, 0.0, 1), std::invalid_argument);
  EXPECT_THROW(BlurImage(cv::Mat(20, 20, CV_32FC2), k, 0.0, 1), std::invalid_argument);
  EXPECT_THROW(BlurImage(cv::Mat(20, 20, CV_32F), cv::Mat(4, 5, CV_32F, 0.05), 0.0, 1),
               std::invalid_argument);
  EXPECT_THROW(BlurImage(cv::Mat(20, 20, CV_32F), k, -0.1, 1), std::invalid_argument);
  EXPECT_THROW(BlurImage(cv::Mat(20, 20, CV_32F), k, NAN, 1), std::invalid_argument);
}

}  // namespace
