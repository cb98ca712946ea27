// The sharp estimator as a whole: a known blur recovered from a synthetic
// picture, the pyramid it works on, the failure answer for pictures that
// carry no blur information, finite results on extreme samples, progress,
// and the window a large picture is estimated on.
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "estimation/estimation_window.h"
#include "estimation/sharp_estimator.h"
#include "pipeline/engine.h"
#include "frontend/job.h"
#include "engine/memory_budget.h"
#include "tests/engine_log.h"
#include "tests/sample_mosaic.h"
#include "tests/progress_recorder.h"
#include "tools/metrics.h"
#include "tools/shake.h"

using namespace velmora;
using velmora::testing::SampleMosaic;

namespace {

// Overlapping flat shapes of random grey levels: edges in every direction.
cv::Mat Shapes(int rows, int cols, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  cv::Mat picture(rows, cols, CV_32F, cv::Scalar(0.4));
  for (int i = 0; i < 40; ++i) {
    const cv::Point at(static_cast<int>(u(random) * cols), static_cast<int>(u(random) * rows));
    const int r = 5 + static_cast<int>(u(random) * 30);
    if (i % 2)
      cv::circle(picture, at, r, cv::Scalar(u(random)), cv::FILLED);
    else
      cv::rectangle(picture, cv::Rect(at.x, at.y, r, 3 + static_cast<int>(u(random) * 2 * r)),
                    cv::Scalar(u(random)), cv::FILLED);
  }
  return picture;
}

std::vector<float> ThreePlanes(const cv::Mat& grey) {
  std::vector<float> planes;
  for (int c = 0; c < 3; ++c) planes.insert(planes.end(), grey.begin<float>(), grey.end<float>());
  return planes;
}

struct SharpRun {
  int result = -100;
  std::vector<float> output, kernel;
  std::string console;
};

SharpRun DeblurSharp(const std::vector<float>& input, int rows, int cols, int side,
                ProgressCell* cell = nullptr) {
  SharpRun r;
  r.output.assign(input.size(), -7.0f);
  r.kernel.assign(static_cast<size_t>(side) * side, -7.0f);
  r.console = testing_support::EngineLines([&] {
    r.result = DeblurImageSharp(input.data(), r.output.data(), rows, cols, 3, r.kernel.data(), side,
                                side, 1.0f, 0.04f, 0, 0, true, cell);
  });
  return r;
}

}  // namespace

TEST(SharpEstimator, PyramidFollowsTheKernelSize) {
  EXPECT_EQ(SharpLevelCount(31), 6);
  std::vector<int> sides;
  for (int level = 5; level >= 0; --level) sides.push_back(SharpKernelSide(31, level));
  EXPECT_EQ(sides, (std::vector<int>{7, 9, 11, 17, 23, 31}));
  EXPECT_EQ(SharpLevelCount(5), 1);
  EXPECT_EQ(SharpLevelCount(3), 1);  // never below one level
  EXPECT_EQ(SharpKernelSide(3, 2), 3);
}

// Hand-held and sweeping shakes are found in a noise-free synthetic picture.
TEST(SharpEstimator, RecoversAKnownKernelFromASyntheticPicture) {
  const cv::Mat sharp = Shapes(220, 260, 5);
  for (const tools::ShakeKind kind : {tools::ShakeKind::kHandHeld, tools::ShakeKind::kSweep}) {
    const cv::Mat truth = tools::GenerateShakeKernel(15, 3, kind);
    const cv::Mat blurred = tools::BlurImage(sharp, truth, 0.0, 1);
    cv::Mat estimate(15, 15, CV_32F);
    bool found = false;
    testing_support::EngineLines([&] {
      found = EstimateSharpKernel(blurred.ptr<float>(), blurred.rows, blurred.cols, estimate.ptr<float>(),
                                  15, 15, SharpEstimatorParams(), nullptr);
    });
    ASSERT_TRUE(found);
    EXPECT_NEAR(cv::sum(estimate)[0], 1.0, 1e-4);
    double lowest = 0.0;
    cv::minMaxLoc(estimate, &lowest);
    EXPECT_GE(lowest, 0.0);
    EXPECT_GE(tools::KernelSimilarity(estimate, truth), 0.9) << (kind == tools::ShakeKind::kSweep ? "sweep" : "hand-held");
  }
}

// A long hand-held shake on a megapixel picture made of the sample
// photographs at their own resolution, tiled and mirrored: the levels must
// go deep enough, and the coarse ones see enough of the picture, for the
// path's faint stretches to come through.
TEST(SharpEstimator, RecoversALongShakeOnAMegapixelPicture) {
  const int side = 75;
  const cv::Mat sharp = SampleMosaic(1024, 1024);
  const cv::Mat truth = tools::GenerateShakeKernel(side, 11, tools::ShakeKind::kHandHeld);
  const cv::Mat blurred = tools::BlurImage(sharp, truth, 0.005, 4);
  const SharpRun r = DeblurSharp(ThreePlanes(blurred), blurred.rows, blurred.cols, side);
  ASSERT_EQ(r.result, 1);
  const cv::Mat estimate(side, side, CV_32F, const_cast<float*>(r.kernel.data()));
  // Such cases reach 0.84 to 0.93 over seeds and kinds; 0.9 is the aim,
  // not yet held by every one. A broken level schedule gives below 0.6.
  EXPECT_GE(tools::KernelSimilarity(estimate, truth), 0.8);
}

// A flat picture tells nothing about the blur: the job fails as the classic
// one does, output untouched, with the console line.
TEST(SharpEstimator, FlatPictureIsInsufficientInformation) {
  const cv::Mat flat(120, 130, CV_32F, cv::Scalar(0.5));
  const SharpRun r = DeblurSharp(ThreePlanes(flat), 120, 130, 9);
  EXPECT_EQ(r.result, 0);
  EXPECT_TRUE(std::all_of(r.output.begin(), r.output.end(), [](float v) { return v == -7.0f; }));
  EXPECT_NE(r.console.find("Kernel Estimation Fails!"), std::string::npos);
}

TEST(SharpEstimator, RefusesWhatItCannotEstimate) {
  const cv::Mat picture = Shapes(40, 60, 2);
  const std::vector<float> planes = ThreePlanes(picture);
  // A kernel wider than the picture is refused outright, an even one too.
  EXPECT_EQ(DeblurSharp(planes, 40, 60, 41).result, kEngineInvalidArgument);
  EXPECT_EQ(DeblurSharp(planes, 40, 60, 10).result, kEngineInvalidArgument);
  // One that leaves no room for its footprint fails as an estimation.
  EXPECT_EQ(DeblurSharp(planes, 40, 60, 39).result, 0);
  // A NaN would spread through every transform to the whole result.
  std::vector<float> spoiled = planes;
  spoiled[123] = NAN;
  EXPECT_EQ(DeblurSharp(spoiled, 40, 60, 9).result, kEngineInvalidArgument);
}

// Samples far outside [0, 1] (an over-exposed float picture, black
// holes) leave the kernel and the result finite.
TEST(SharpEstimator, ExtremeSamplesGiveFiniteResults) {
  cv::Mat picture = Shapes(140, 150, 8) * 40.0f;
  picture(cv::Rect(20, 20, 30, 30)).setTo(-5.0f);
  const cv::Mat blurred = tools::BlurImage(picture, tools::GenerateShakeKernel(9, 2), 0.0, 1);
  const SharpRun r = DeblurSharp(ThreePlanes(blurred), 140, 150, 9);
  ASSERT_EQ(r.result, 1);
  EXPECT_TRUE(std::all_of(r.kernel.begin(), r.kernel.end(), [](float v) { return std::isfinite(v) && v >= 0.0f; }));
  EXPECT_TRUE(std::all_of(r.output.begin(), r.output.end(), [](float v) { return std::isfinite(v); }));
}

TEST(SharpEstimator, ProgressRisesToTheEnd) {
  const cv::Mat blurred = tools::BlurImage(Shapes(200, 200, 3), tools::GenerateShakeKernel(9, 4), 0.005, 2);
  ProgressCell cell = -1.0f;
  std::vector<float> seen;
  {
    testing_support::ProgressRecorder recorder(&cell);
    ASSERT_EQ(DeblurSharp(ThreePlanes(blurred), 200, 200, 9, &cell).result, 1);
    seen = recorder.Stop();
  }
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_FLOAT_EQ(cell, 99.9f);
  EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](float v) { return v > 0.0f && v < 50.0f; }));
}

// A level takes the finest window's share of the picture, more where that
// would hold too few of its kernel's sides, and never more than the cap;
// a small picture is whole at every level.
TEST(EstimationWindow, CoarseLevelsSeeMoreOfALargePicture) {
  const int rows = 1200, cols = 1600;
  const cv::Mat picture = Shapes(rows, cols, 4);
  const std::vector<float> planes = ThreePlanes(picture);
  SharpEstimatorParams params;
  params.windowPixels = 0.1e6;
  params.windowKernelWidths = 10.0f;
  params.windowPixelsMost = 0.4e6;
  const LevelPictures pictures(picture.ptr<float>(), rows, cols, planes.data(), 3, params);
  auto area = [](const EstimationWindow& w) { return static_cast<double>(w.rows) * w.cols; };
  // A short shake: the finest window's share at every level.
  EXPECT_NEAR(area(pictures.Window(1.0, 15)), 0.1e6, 0.02e6);
  EXPECT_NEAR(area(pictures.Window(0.25, 15)), 0.1e6, 0.02e6);
  // A long one: 10 of its sides across at a coarse level (the level's
  // pixels then (10 x 75 x 0.25)^2, the finest's 16 times as many)...
  EXPECT_NEAR(area(pictures.Window(0.25, 75)), 10.0 * 75 * 10.0 * 75, 0.05 * 562500);
  // ...at most windowPixelsMost at the finest.
  EXPECT_NEAR(area(pictures.Window(1.0, 75)), 0.4e6, 0.02e6);
  const cv::Mat coarse = pictures.Picture(0.25, 19, 19);
  EXPECT_NEAR(static_cast<double>(coarse.rows) * coarse.cols, 562500 / 16.0, 0.05 * 562500 / 16.0);
  // Without the picture's channels every level sees the whole of it.
  const LevelPictures whole(picture.ptr<float>(), rows, cols, nullptr, 0, params);
  EXPECT_EQ(area(whole.Window(1.0, 75)), static_cast<double>(rows) * cols);
}

TEST(EstimationWindow, SmallPicturesAreUsedWhole) {
  const cv::Mat picture = Shapes(100, 120, 1);
  const std::vector<float> planes = ThreePlanes(picture);
  const EstimationWindow w = ChooseEstimationWindow(picture.ptr<float>(), planes.data(), 100, 120, 3, 12000);
  EXPECT_EQ(w.row0, 0);
  EXPECT_EQ(w.col0, 0);
  EXPECT_EQ(w.rows, 100);
  EXPECT_EQ(w.cols, 120);
}

// In a picture flat on the left and busy on the right, the window goes
// right; when the busy part's middle is clipped white, it avoids it.
TEST(EstimationWindow, PrefersStrongEdgesAwayFromClipping) {
  const int rows = 300, cols = 900;
  cv::Mat picture(rows, cols, CV_32F, cv::Scalar(0.5));
  Shapes(rows, 600, 9).copyTo(picture(cv::Rect(300, 0, 600, rows)));
  picture *= 0.9f;
  std::vector<float> planes = ThreePlanes(picture);
  const double budget = 300.0 * 300.0;
  EstimationWindow w = ChooseEstimationWindow(picture.ptr<float>(), planes.data(), rows, cols, 3, budget);
  EXPECT_NEAR(static_cast<double>(w.rows) * w.cols, budget, 0.05 * budget);
  EXPECT_GE(w.col0, 250);
  EXPECT_LE(w.col0 + w.cols, cols);

  cv::Mat clipped = picture.clone();
  clipped(cv::Rect(450, 0, 300, rows)).setTo(1.0f);
  Shapes(rows, 300, 9).copyTo(clipped(cv::Rect(450, 0, 300, rows)));
  clipped(cv::Rect(450, 0, 300, rows)).setTo(1.0f, clipped(cv::Rect(450, 0, 300, rows)) > 0.3f);
  planes = ThreePlanes(clipped);
  w = ChooseEstimationWindow(clipped.ptr<float>(), planes.data(), rows, cols, 3, budget);
  // No window of this size avoids the clipped band altogether; the one
  // chosen holds the least of it.
  const int overlap = std::max(0, std::min(w.col0 + w.cols, 750) - std::max(w.col0, 450));
  EXPECT_LE(overlap, 160);
}

// The sharp estimation works on a bounded window: on a large photograph its
// job needs about what the deconvolution needs, less than the classic
// estimation on the whole picture, and never less than the deconvolution.
TEST(SharpEstimator, MemoryModelFollowsTheWindow) {
  for (const auto& [rows, cols] : {std::pair{300, 400}, std::pair{2989, 3986}, std::pair{4000, 5984}}) {
    const size_t known = EngineMemoryBytes(rows, cols, 3, 31, 31, false, 0, 0);
    const size_t classic = EngineMemoryBytes(rows, cols, 3, 31, 31, true, 0, 0);
    const size_t sharp = SharpEngineMemoryBytes(rows, cols, 3, 31, 31, 0, 0);
    EXPECT_GE(sharp, known) << rows << "x" << cols;
    if (rows * cols > 4000000) {
      EXPECT_LT(sharp, classic) << rows << "x" << cols;
    }
  }
  // A large kernel's normal matrix counts: 51 x 51 taps make 27 MB of it.
  EXPECT_GT(SharpEngineMemoryBytes(300, 400, 3, 51, 51, 0, 0),
            SharpEngineMemoryBytes(300, 400, 3, 31, 31, 0, 0) + (size_t{20} << 20));
}

// The job runs the estimator its options name; the classic one stays the
// default.
TEST(SharpEstimator, JobRunsTheChosenEstimator) {
  const cv::Mat blurred = tools::BlurImage(Shapes(200, 210, 4), tools::GenerateShakeKernel(9, 1), 0.005, 3);
  cv::Mat bgr, bgr8;
  cv::cvtColor(blurred, bgr, cv::COLOR_GRAY2BGR);
  bgr.convertTo(bgr8, CV_8U, 255.0);
  DeblurSettings settings;
  settings.kernelHeight = settings.kernelWidth = 9;
  std::string consoles[2];
  cv::Mat kernels[2];
  for (int i = 0; i < 2; ++i) {
    DeblurJob job(settings, nullptr);
    if (i == 1) job.options.estimator = KernelEstimator::kSharp;
    job.input = bgr8.clone();
    job.kernelPath.clear();
    job.mode = kModeComplete;
    job.context.log = [&consoles, i](const char* line) { consoles[i] += line; };
    job.Run();
    ASSERT_EQ(job.status, kJobSucceeded);
    kernels[i] = job.kernel.clone();
  }
  EXPECT_EQ(JobOptions().estimator, KernelEstimator::kClassic);
  // The classic pyramid of a 9 x 9 kernel has four levels, the sharp one two.
  EXPECT_NE(consoles[0].find("Level 3"), std::string::npos);
  EXPECT_EQ(consoles[1].find("Level 3"), std::string::npos);
  EXPECT_NE(consoles[1].find("Level 1"), std::string::npos);
  EXPECT_GT(cv::norm(kernels[0], kernels[1]), 0.0);
}
