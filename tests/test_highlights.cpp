// Clipped highlights: which pictures count as showing lamps, which samples
// are taken as lower bounds, that a lamp behind a known shake comes back as
// a point, and that every picture without lamps is restored exactly as it
// was before the model existed.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/entries.h"
#include "estimation/sharp_estimator.h"
#include "pipeline/deconvolve.h"
#include "pipeline/engine.h"
#include "pipeline/highlights.h"
#include "tools/night_scene.h"
#include "tools/shake.h"

namespace {

using velmora::Highlights;

constexpr int kRows = 160, kCols = 200;

// A dark, gently textured scene in linear light (BGR), the same every run.
cv::Mat DarkScene(double level) {
  cv::Mat scene(kRows, kCols, CV_32FC3);
  for (int i = 0; i < kRows; ++i)
    for (int j = 0; j < kCols; ++j) {
      const float v = static_cast<float>(level * (1.0 + 0.5 * std::sin(i * 0.21) * std::cos(j * 0.13)));
      scene.at<cv::Vec3f>(i, j) = cv::Vec3f(v, 0.9f * v, 1.1f * v);
    }
  return scene;
}

// planar RGB floats from an 8-bit BGR picture.
std::vector<float> Planar(const cv::Mat& bgr8) {
  cv::Mat unit;
  bgr8.convertTo(unit, CV_32F, 1.0 / 255);
  std::vector<cv::Mat> channels;
  cv::split(unit, channels);
  std::vector<float> planes;
  for (int c = 2; c >= 0; --c) planes.insert(planes.end(), channels[c].begin<float>(), channels[c].end<float>());
  return planes;
}

// A straight diagonal streak of 11 taps: a shake whose picture of a lamp
// is easy to tell from a point.
cv::Mat DiagonalKernel() {
  cv::Mat k(11, 11, CV_32F, cv::Scalar(0));
  for (int t = 0; t < 11; ++t) k.at<float>(t, t) = 1.0f / 11;
  return k;
}

struct Restored {
  std::vector<float> planes;
  float At(int i, int j) const { return planes[static_cast<size_t>(i) * kCols + j]; }  // red
};

Restored RestoreWithTrueKernel(const std::vector<float>& blurred, const cv::Mat& kernel, Highlights h,
                               int reduceRinging = 0, int reduceNoise = 0) {
  Restored r;
  r.planes.resize(blurred.size());
  EXPECT_EQ(DeblurWithKernel(blurred.data(), r.planes.data(), kernel.ptr<float>(), kRows, kCols, 3, kernel.rows,
                             kernel.cols, 0.04f, reduceRinging, reduceNoise, true, nullptr, h),
            0);
  return r;
}

// Lamps far brighter than the sensor's maximum, on a dark scene: the picture
// of the test that follows, and a case of a picture showing lamps.
constexpr int kLampRows[] = {40, 60, 110, 120, 80}, kLampCols[] = {50, 140, 40, 150, 95};

cv::Mat LampScene() {
  cv::Mat scene = DarkScene(0.03);
  for (int n = 0; n < 5; ++n)
    cv::circle(scene, {kLampCols[n], kLampRows[n]}, 2, cv::Scalar(3.0, 3.5, 4.0), cv::FILLED);
  return scene;
}

// A hand-held shake: its slow parts pile up light and clip, its fast ones
// do not.
cv::Mat HandShake() { return velmora::tools::GenerateShakeKernel(13, 5); }

// The root-mean-square error (red plane) against the unshaken scene as
// stored, within reach of the clipped samples: where the lamps' streaks and
// their echoes lie.
double ErrorAboutLamps(const Restored& r, const cv::Mat& sharp, const std::vector<float>& blurred, int reach) {
  cv::Mat near(kRows, kCols, CV_8U);
  for (int i = 0; i < kRows; ++i)
    for (int j = 0; j < kCols; ++j) near.at<uint8_t>(i, j) = blurred[static_cast<size_t>(i) * kCols + j] >= velmora::kClipLevel;
  cv::dilate(near, near, cv::getStructuringElement(cv::MORPH_RECT, {2 * reach + 1, 2 * reach + 1}));
  double sum = 0.0;
  int n = 0;
  for (int i = 0; i < kRows; ++i)
    for (int j = 0; j < kCols; ++j)
      if (near.at<uint8_t>(i, j)) {
        const double d = std::clamp(r.At(i, j), 0.0f, 1.0f) - sharp.at<cv::Vec3f>(i, j)[2];
        sum += d * d;
        ++n;
      }
  return std::sqrt(sum / std::max(n, 1));
}

TEST(Highlights, LampsBehindAKnownShakeComeBackAsPoints) {
  const cv::Mat kernel = HandShake();
  const cv::Mat sharp = velmora::tools::SharpRecord(LampScene());
  const std::vector<float> blurred = Planar(velmora::tools::CameraRecord(LampScene(), kernel, 0.005, 1));
  ASSERT_TRUE(velmora::ModelsHighlights(Highlights::kModel, blurred.data(), kRows, kCols, 3));
  for (int reduceNoise : {0, 1}) {
    SCOPED_TRACE(reduceNoise ? "outlier-tolerant solver" : "least-squares solver");
    const Restored kept = RestoreWithTrueKernel(blurred, kernel, Highlights::kKeep, 0, reduceNoise);
    const Restored modelled = RestoreWithTrueKernel(blurred, kernel, Highlights::kModel, 0, reduceNoise);
    // Each lamp is the brightest pixel about it, at the maximum.
    for (int n = 0; n < 5; ++n) {
      const cv::Point at(kLampCols[n], kLampRows[n]);
      EXPECT_GE(modelled.At(at.y, at.x), 0.99f) << n;
    }
    // Taking the samples as measured leaves streaks and rings about the
    // lamps; the model leaves far less.
    const double keptError = ErrorAboutLamps(kept, sharp, blurred, 8);
    const double modelledError = ErrorAboutLamps(modelled, sharp, blurred, 8);
    EXPECT_LT(modelledError, 0.7 * keptError);
  }
}

TEST(Highlights, RingingReductionKeepsTheLampAPoint) {
  const cv::Mat kernel = HandShake();
  const std::vector<float> blurred = Planar(velmora::tools::CameraRecord(LampScene(), kernel, 0.0, 1));
  const cv::Mat sharp = velmora::tools::SharpRecord(LampScene());
  const Restored kept = RestoreWithTrueKernel(blurred, kernel, Highlights::kKeep, 1, 0);
  const Restored modelled = RestoreWithTrueKernel(blurred, kernel, Highlights::kModel, 1, 0);
  for (int n = 0; n < 5; ++n) EXPECT_GE(modelled.At(kLampRows[n], kLampCols[n]), 0.99f) << n;
  EXPECT_LT(ErrorAboutLamps(modelled, sharp, blurred, 8), 0.7 * ErrorAboutLamps(kept, sharp, blurred, 8));
}

TEST(Highlights, PicturesShowLampsOnlyWhenSmallClippedPatchesLieInTheDark) {
  const cv::Mat kernel = DiagonalKernel();
  cv::Mat lamps = velmora::tools::CameraRecord(LampScene(), kernel, 0.0, 1);
  EXPECT_TRUE(velmora::ShowsClippedHighlights(lamps));
  // The same in 16 bits and as floats.
  cv::Mat deep, real;
  lamps.convertTo(deep, CV_16U, 257.0);
  lamps.convertTo(real, CV_32F, 1.0 / 255);
  EXPECT_TRUE(velmora::ShowsClippedHighlights(deep));
  EXPECT_TRUE(velmora::ShowsClippedHighlights(real));

  // No clipped sample, or too few to be a lamp.
  cv::Mat dark = velmora::tools::CameraRecord(DarkScene(0.02), kernel, 0.0, 1);
  EXPECT_FALSE(velmora::ShowsClippedHighlights(dark));
  dark(cv::Rect(20, 20, 3, 3)).setTo(cv::Scalar(255, 255, 255));
  EXPECT_FALSE(velmora::ShowsClippedHighlights(dark));

  // A blown sky: one side of the picture clipped, one large patch.
  cv::Mat sky = lamps.clone();
  sky(cv::Rect(0, 0, kCols / 2, kRows)).setTo(cv::Scalar(255, 255, 255));
  EXPECT_FALSE(velmora::ShowsClippedHighlights(sky));

  // Glints on bright water: small clipped patches, but in the light.
  cv::Mat water = velmora::tools::CameraRecord(DarkScene(0.6), cv::Mat::ones(1, 1, CV_32F), 0.0, 1);
  for (int n = 0; n < 12; ++n) water(cv::Rect(10 + 15 * n, 40 + 7 * n, 3, 2)).setTo(cv::Scalar(255, 255, 255));
  EXPECT_FALSE(velmora::ShowsClippedHighlights(water));
  EXPECT_FALSE(velmora::ModelsHighlights(Highlights::kModel, Planar(water).data(), kRows, kCols, 3));
}

TEST(Highlights, ClippedSamplesAreMarkedPlaneByPlaneWhereTheCanvasHoldsThem) {
  // A grey picture clipped on its left side only, placed at (3, 5) of a
  // wider plane.
  constexpr int rows = 6, cols = 8, planeCols = 20, top = 3, left = 5;
  std::vector<float> picture(rows * cols, 0.3f);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < 3; ++j) picture[i * cols + j] = j == 2 ? 0.985f : 1.0f;  // 251 of 255 is no clip
  const std::vector<size_t> marked = velmora::ClippedIndices(picture.data(), rows, cols, planeCols, top, left);
  std::vector<size_t> expected;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < 2; ++j) expected.push_back(static_cast<size_t>(i + top) * planeCols + j + left);
  EXPECT_EQ(marked, expected);
}

TEST(Highlights, TheSrgbCurveComesBackAndKeepsLightAboveTheMaximum) {
  for (float v = 0.0f; v <= 4.0f; v += 0.01f) {
    const float linear = velmora::SrgbToLinear(v);
    EXPECT_NEAR(velmora::LinearToSrgb(linear), v, 1e-4f * std::max(1.0f, v)) << v;
    if (v > 1.0f) {
      EXPECT_GT(linear, 1.0f) << v;
    }
  }
  EXPECT_NEAR(velmora::SrgbToLinear(0.5f), 0.2140f, 1e-4f);  // the curve's published value at mid-grey
}

// Outputs of two runs of the same entry, compared byte for byte.
void ExpectSameBytes(const std::vector<float>& a, const std::vector<float>& b) {
  ASSERT_EQ(a.size(), b.size());
  EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin()));
}

TEST(Highlights, PicturesWithoutLampsAreRestoredExactlyAsBefore) {
  const cv::Mat kernel = velmora::tools::GenerateShakeKernel(9, 4);
  for (const bool sky : {false, true}) {
    SCOPED_TRACE(sky ? "a blown sky" : "no clipped sample");
    cv::Mat stored = velmora::tools::CameraRecord(DarkScene(0.3), kernel, 0.005, 2);
    if (sky) stored(cv::Rect(0, 0, kCols, kRows / 3)).setTo(cv::Scalar(255, 255, 255));
    const std::vector<float> blurred = Planar(stored);
    ExpectSameBytes(RestoreWithTrueKernel(blurred, kernel, Highlights::kKeep, 1).planes,
                    RestoreWithTrueKernel(blurred, kernel, Highlights::kModel, 1).planes);
    // Blind, with the sharp estimator: the kernel and the picture.
    std::vector<float> out[2], k[2];
    for (int m = 0; m < 2; ++m) {
      out[m].resize(blurred.size());
      k[m].resize(9 * 9);
      ASSERT_EQ(velmora::DeblurSharp(blurred.data(), out[m].data(), kRows, kCols, 3, k[m].data(), 9, 9, 1.0f, 0.04f,
                                     0, 0, true, nullptr, velmora::SharpEstimatorParams{}, nullptr,
                                     m ? Highlights::kModel : Highlights::kKeep),
                1);
    }
    ExpectSameBytes(out[0], out[1]);
    ExpectSameBytes(k[0], k[1]);
  }
}

}  // namespace
