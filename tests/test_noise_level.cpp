// The noise level read from a blurred photograph: the steps weighted by it
// over- or under-smooth in proportion to its error, so it is held to 20 %
// over the range of noise an 8-bit photograph shows, and must not be pulled
// to 0 by clipped areas or up by the detail a shake leaves.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cmath>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "estimation/noise_level.h"
#include "tests/seeded.h"
#include "tools/shake.h"

namespace {

using velmora::EstimateNoiseSigma;
using velmora::tools::BlurImage;
using velmora::tools::GenerateShakeKernel;

constexpr double kSigmas[] = {0.002, 0.005, 0.01, 0.02};
constexpr double kTolerance = 0.20;
// What rounding to 8 bits adds: a uniform error of one level.
const double kQuantisationSigma = 1.0 / (255.0 * std::sqrt(12.0));

double Estimate(const cv::Mat& grey) {
  EXPECT_TRUE(grey.isContinuous() && grey.type() == CV_32F);
  return EstimateNoiseSigma(grey.ptr<float>(), grey.rows, grey.cols);
}

cv::Mat GreyPhoto(const std::string& name) {
  const cv::Mat photo = cv::imread(std::string(VELMORA_SOURCE_DIR) + "/samples/" + name, cv::IMREAD_GRAYSCALE);
  if (photo.empty()) throw std::runtime_error("samples/" + name + " is missing");
  cv::Mat grey;
  photo.convertTo(grey, CV_32F, 1.0 / 255.0);
  return grey;
}

// The photograph shaken by a 31 px generated trajectory, Gaussian noise of
// sigma added, not clamped.
cv::Mat Shaken(const cv::Mat& photo, uint64_t seed, double sigma) {
  return BlurImage(photo, GenerateShakeKernel(31, seed), sigma, seed + 100);
}

cv::Mat Quantised(const cv::Mat& picture) {
  cv::Mat bytes, back;
  picture.convertTo(bytes, CV_8U, 255.0);  // rounds and clamps
  bytes.convertTo(back, CV_32F, 1.0 / 255.0);
  return back;
}

struct Photo {
  const char* file;
  uint64_t shakeSeed;
};

void PrintTo(const Photo& photo, std::ostream* out) { *out << photo.file; }

class ShakenPhoto : public ::testing::TestWithParam<Photo> {};

TEST_P(ShakenPhoto, ReadsTheAddedNoiseWithinTwentyPercent) {
  const cv::Mat photo = GreyPhoto(GetParam().file);
  for (double sigma : kSigmas) {
    SCOPED_TRACE(testing::Message() << "sigma " << sigma);
    const cv::Mat blurred = Shaken(photo, GetParam().shakeSeed, sigma);
    const double estimate = Estimate(blurred);
    EXPECT_NEAR(estimate / sigma, 1.0, kTolerance) << "estimate " << estimate;
    RecordProperty("bias_at_" + std::to_string(sigma), std::to_string(estimate / sigma - 1.0));
    EXPECT_EQ(Estimate(blurred), estimate) << "the same picture must give the same value";
  }
}

TEST_P(ShakenPhoto, ReadsNearlyNothingWithoutNoise) {
  // What is left is detail the shake did not smear and the photograph's own
  // noise, averaged down by the blur.
  const double estimate = Estimate(Shaken(GreyPhoto(GetParam().file), GetParam().shakeSeed, 0.0));
  EXPECT_GE(estimate, 0.0);
  EXPECT_LT(estimate, 0.0005);
}

TEST_P(ShakenPhoto, StoredAtEightBitsReadsTheNoiseWithTheRounding) {
  // The rounding is noise the restoration sees too. On a lattice of 1/510
  // a plain median of |d| would jump between lattice points, 0.5 and 1
  // level apart: 40 % at sigma 0.005.
  const cv::Mat photo = GreyPhoto(GetParam().file);
  for (double sigma : kSigmas) {
    SCOPED_TRACE(testing::Message() << "sigma " << sigma);
    const double expected = std::hypot(sigma, kQuantisationSigma);
    const double estimate = Estimate(Quantised(Shaken(photo, GetParam().shakeSeed, sigma)));
    EXPECT_NEAR(estimate / expected, 1.0, kTolerance) << "estimate " << estimate;
  }
}

INSTANTIATE_TEST_SUITE_P(Samples, ShakenPhoto,
                         ::testing::Values(Photo{"coffee.png", 3}, Photo{"chelsea.png", 7},
                                           Photo{"astronaut.png", 11}),
                         [](const testing::TestParamInfo<Photo>& info) {
                           const std::string file = info.param.file;
                           return file.substr(0, file.find('.'));
                         });

// A shaken photograph whose top rows are clipped to white and whose left
// columns are crushed to black, as an over-exposed sky and a shadow come out
// of the camera: exactly constant, carrying no noise.
cv::Mat WithClippedAreas(const cv::Mat& picture, double share) {
  cv::Mat clipped = picture.clone();
  const int skyRows = static_cast<int>(share * picture.rows);
  clipped.rowRange(0, skyRows).setTo(1.0);
  clipped(cv::Rect(0, skyRows, picture.cols / 5, picture.rows - skyRows)).setTo(0.0);
  cv::min(cv::max(clipped, 0.0), 1.0, clipped);
  return clipped;
}

TEST(ClippedAreas, DoNotPullTheEstimateDown) {
  const cv::Mat photo = GreyPhoto("coffee.png");
  for (double sigma : kSigmas) {
    SCOPED_TRACE(testing::Message() << "sigma " << sigma);
    // Over half the picture clipped: a median over every cell would be 0.
    const double estimate = Estimate(WithClippedAreas(Shaken(photo, 5, sigma), 0.5));
    EXPECT_NEAR(estimate / sigma, 1.0, kTolerance) << "estimate " << estimate;
  }
}

TEST(ClippedAreas, PartlyClippedNoiseIsLeftOut) {
  // A sky just at white: the noise pushes half its samples over and they
  // come out at 1, the rest keep theirs; what is left of its noise is half
  // as wide and the sky is the quietest part of the picture.
  const double sigma = 0.01;
  cv::Mat picture = Shaken(GreyPhoto("coffee.png"), 5, sigma);
  cv::Mat sky = picture.rowRange(0, picture.rows / 2);
  cv::Mat noise(sky.size(), CV_32F);
  cv::RNG rng(41);
  rng.fill(noise, cv::RNG::NORMAL, 0.0, sigma);
  cv::min(noise + 1.0, 1.0, sky);
  EXPECT_NEAR(Estimate(picture) / sigma, 1.0, kTolerance);
}

TEST(ClippedAreas, ConstantPaintedAreasAtAnyLevelAreLeftOut) {
  // A letterbox or a painted-out region is constant without touching 0 or 1.
  const cv::Mat photo = GreyPhoto("chelsea.png");
  const double sigma = 0.005;
  cv::Mat picture = Shaken(photo, 9, sigma);
  picture.rowRange(0, picture.rows * 3 / 5).setTo(0.37);
  EXPECT_NEAR(Estimate(picture) / sigma, 1.0, kTolerance);
}

TEST(ClippedAreas, AllClippedGivesZero) {
  const cv::Mat white(64, 64, CV_32F, cv::Scalar(1.0));
  EXPECT_EQ(Estimate(white), 0.0);
  const cv::Mat grey(64, 64, CV_32F, cv::Scalar(0.5));
  EXPECT_EQ(Estimate(grey), 0.0);
}

TEST(PureNoise, IsReadWithoutBiasFromTheChoiceOfQuietCells) {
  // On a flat field every cell is as quiet as any other: a choice that
  // looked at a cell's own detail would keep the cells with the least noise
  // and read low.
  for (double sigma : {0.002, 0.02, 0.1}) {
    SCOPED_TRACE(testing::Message() << "sigma " << sigma);
    cv::Mat field(800, 1000, CV_32F, cv::Scalar(0.5));
    cv::Mat noise(field.size(), CV_32F);
    cv::RNG rng(17);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, sigma);
    field += noise;
    EXPECT_NEAR(Estimate(field) / sigma, 1.0, 0.03);
  }
}

TEST(PureNoise, ChanceFlatCellsOfEightBitDataCount) {
  // Half a level of noise on a smooth 8-bit ramp leaves many cells with four
  // equal samples by chance; they are part of the noise, and leaving them
  // out reads high (by 40 % at 0.0015). The noise is what rounding left of
  // the ramp; below a level it is not normal, hence the wider margin.
  for (double sigma : {0.0015, 0.002, 0.003}) {
    SCOPED_TRACE(testing::Message() << "sigma " << sigma);
    cv::Mat field(600, 800, CV_32F);
    for (int i = 0; i < field.rows; ++i)
      for (int j = 0; j < field.cols; ++j) field.at<float>(i, j) = 0.3f + 0.2f * static_cast<float>(j) / 800.0f;
    cv::Mat noise(field.size(), CV_32F);
    cv::RNG rng(19);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, sigma);
    const cv::Mat stored = Quantised(field + noise);
    cv::Scalar mean, deviation;
    cv::meanStdDev(stored - field, mean, deviation);
    EXPECT_NEAR(Estimate(stored) / deviation[0], 1.0, 0.12) << "noise " << deviation[0];
  }
}

TEST(DamagedInput, NonFiniteSamplesAreLeftOut) {
  const double sigma = 0.01;
  cv::Mat picture = Shaken(GreyPhoto("astronaut.png"), 13, sigma);
  const std::vector<float> where = velmora::test_inputs::Random(400, 29);
  for (size_t k = 0; k + 1 < where.size(); k += 2) {
    const int i = static_cast<int>(where[k] * picture.rows), j = static_cast<int>(where[k + 1] * picture.cols);
    picture.at<float>(i, j) = k % 4 ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
  }
  const double estimate = Estimate(picture);
  ASSERT_TRUE(std::isfinite(estimate));
  EXPECT_NEAR(estimate / sigma, 1.0, kTolerance);
}

TEST(SmallPictures, GiveZeroOrASaneValue) {
  const std::vector<float> noise = velmora::test_inputs::Random(64 * 64, 31, 0.3f, 0.7f);
  // No 2 x 2 cell at all.
  EXPECT_EQ(EstimateNoiseSigma(noise.data(), 1, 64), 0.0);
  EXPECT_EQ(EstimateNoiseSigma(noise.data(), 64, 1), 0.0);
  EXPECT_EQ(EstimateNoiseSigma(noise.data(), 1, 1), 0.0);
  EXPECT_EQ(EstimateNoiseSigma(noise.data(), 0, 0), 0.0);
  // One cell, and a few: finite, within the range of the samples.
  for (int side : {2, 3, 5, 9}) {
    SCOPED_TRACE(testing::Message() << "side " << side);
    const double estimate = EstimateNoiseSigma(noise.data(), side, side);
    EXPECT_TRUE(std::isfinite(estimate));
    EXPECT_GE(estimate, 0.0);
    EXPECT_LE(estimate, 0.4 / 0.6745);
  }
  const float flat[4] = {0.25f, 0.25f, 0.25f, 0.25f};
  EXPECT_EQ(EstimateNoiseSigma(flat, 2, 2), 0.0);
}

TEST(SmallPictures, TooSmallForNeighbourhoodsStillMeasure) {
  // 12 x 12 samples: 36 cells, all of them used. Uniform noise of width 0.4
  // has a deviation of 0.4 / sqrt 12; its d is close to normal.
  const std::vector<float> noise = velmora::test_inputs::Random(12 * 12, 37, 0.3f, 0.7f);
  const double sigma = 0.4 / std::sqrt(12.0);
  EXPECT_NEAR(EstimateNoiseSigma(noise.data(), 12, 12) / sigma, 1.0, 0.5);
}

}  // namespace
