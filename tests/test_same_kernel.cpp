// A picture run again gives the same kernel, byte for byte, whatever the
// transform cache holds: nothing measured yet, plans measured for the very
// sizes the estimation uses, or measured for other sizes. Each test runs in
// a process of its own with a cache folder of its own.
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "estimation/sharp_estimator.h"
#include "pipeline/engine.h"
#include "pipeline/plan_cache.h"
#include "pipeline/spectral.h"
#include "tests/engine_log.h"
#include "tools/shake.h"

using namespace velmora;

namespace {

// A grey photograph blurred by a generated shake, noised: planar, 3 planes.
struct Blurred {
  int rows = 0, cols = 0;
  std::vector<float> planes;
};

Blurred BlurredSample(int side, int shake, uint64_t seed) {
  const cv::Mat photo = cv::imread(VELMORA_SOURCE_DIR "/samples/coffee.png", cv::IMREAD_GRAYSCALE);
  cv::Mat unit;
  photo(cv::Rect((photo.cols - side) / 2, (photo.rows - side) / 2, side, side)).convertTo(unit, CV_32F, 1.0 / 255);
  const cv::Mat blurred = tools::BlurImage(unit, tools::GenerateShakeKernel(shake, seed), 0.01, seed);
  Blurred b{side, side, {}};
  for (int c = 0; c < 3; ++c) b.planes.insert(b.planes.end(), blurred.begin<float>(), blurred.end<float>());
  return b;
}

using Sizes = std::set<std::tuple<int, int, bool, bool>>;

// The blind job's kernel; sizes (when given) receives the 2-D transforms it ran.
std::vector<float> Kernel(const Blurred& b, int side, bool sharp, Sizes* sizes = nullptr) {
  std::vector<LoggedTransform> log;
  if (sizes) SetTransformLog(&log);
  std::vector<float> output(b.planes.size()), kernel(static_cast<size_t>(side) * side);
  int result = 0;
  testing_support::EngineLines([&] {
    result = sharp ? DeblurImageSharp(b.planes.data(), output.data(), b.rows, b.cols, 3, kernel.data(), side,
                                      side, 1.0f, 0.04f, 0, 0, true, nullptr)
                   : DeblurImage(b.planes.data(), output.data(), b.rows, b.cols, 3, kernel.data(), side, side,
                                 1.0f, 1.0f, 0.04f, 0, 0, true, nullptr);
  });
  SetTransformLog(nullptr);
  EXPECT_EQ(result, 1);
  if (sizes)
    for (const LoggedTransform& t : log) sizes->insert({t.rows, t.cols, t.real, t.inverse});
  return kernel;
}

// Plans for these sizes, outside any estimation, measured now: they replace
// the estimated ones in the cache and their wisdom is what FFTW would
// otherwise reach for.
void MeasureSizes(const Sizes& sizes) {
  for (const auto& [rows, cols, real, inverse] : sizes) {
    const TransformKind kind = real ? (inverse ? TransformKind::kRealInverse : TransformKind::kRealForward)
                                    : (inverse ? TransformKind::kComplexInverse : TransformKind::kComplexForward);
    TransformPlan(kind, rows, cols, true);
  }
  MeasurePendingTransforms(600.0);
  ASSERT_EQ(PendingTransformCount(), 0u);
}

class SameKernel : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("velmora-same-kernel-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    setenv("XDG_CACHE_HOME", folder_.c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::filesystem::path folder_;
};

TEST_P(SameKernel, WhateverTheTransformCacheHolds) {
  const bool sharp = GetParam();
  const Blurred b = BlurredSample(200, 17, 3);
  Sizes used;
  const std::vector<float> first = Kernel(b, 17, sharp, &used);
  ASSERT_FALSE(used.empty());

  // Warmed by the same picture: every size it ran, measured.
  MeasureSizes(used);
  EXPECT_EQ(Kernel(b, 17, sharp), first) << "after measuring the picture's own sizes";

  // Warmed by other pictures: neighbouring sizes measured too.
  Sizes others;
  for (const auto& [rows, cols, real, inverse] : used)
    others.insert({rows + 2, FastTransformLength(cols + 1, true), real, inverse});
  MeasureSizes(others);
  EXPECT_EQ(Kernel(b, 17, sharp), first) << "after measuring other sizes";
}

// The sharp estimator's entry on a grey picture, which tools and tests call
// without a job around it, holds to the same rule.
TEST_F(SameKernel, GreyEntryWhateverTheTransformCacheHolds) {
  const Blurred b = BlurredSample(200, 17, 5);
  auto estimate = [&](Sizes* sizes) {
    std::vector<LoggedTransform> log;
    if (sizes) SetTransformLog(&log);
    std::vector<float> kernel(17 * 17);
    bool estimated = false;
    testing_support::EngineLines([&] {
      estimated = EstimateSharpKernel(b.planes.data(), b.rows, b.cols, kernel.data(), 17, 17, SharpEstimatorParams{},
                                      nullptr);
    });
    SetTransformLog(nullptr);
    EXPECT_TRUE(estimated);
    if (sizes)
      for (const LoggedTransform& t : log) sizes->insert({t.rows, t.cols, t.real, t.inverse});
    return kernel;
  };
  Sizes used;
  const std::vector<float> first = estimate(&used);
  ASSERT_FALSE(used.empty());
  MeasureSizes(used);
  EXPECT_EQ(estimate(nullptr), first) << "after measuring the picture's own sizes";
}

INSTANTIATE_TEST_SUITE_P(BothEstimators, SameKernel, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Sharp" : "Classic");
                         });

}  // namespace
