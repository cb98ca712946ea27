// Results kept from an earlier engine (tests/golden/README): the engine's
// inner workings may change, what the user gets may not.
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <string>

#include "tests/golden/golden_cases.h"
#include "tools/metrics.h"

using namespace velmora;

namespace {

const std::string kData = VELMORA_SOURCE_DIR "/tests/golden/data/";

cv::Mat Read(const std::string& name, int flags) {
  cv::Mat m = cv::imread(kData + name, flags);
  EXPECT_FALSE(m.empty()) << name;
  return m;
}

// The share of samples of a and b that differ by more than `levels`.
double ShareBeyond(const cv::Mat& a, const cv::Mat& b, int levels) {
  cv::Mat difference;
  cv::absdiff(a, b, difference);
  difference = difference.reshape(1);
  return static_cast<double>(cv::countNonZero(difference > levels)) / difference.total();
}

class Golden : public ::testing::TestWithParam<golden::Case> {};

}  // namespace

TEST_P(Golden, ResultMatchesTheKeptOne) {
  const golden::Case& c = GetParam();
  const cv::Mat input = Read(c.name + "_input.png", cv::IMREAD_COLOR);
  cv::Mat kernel = Read(c.name + "_kernel.tiff", cv::IMREAD_UNCHANGED);
  const cv::Mat kept = Read(c.name + "_result.png", cv::IMREAD_COLOR);
  ASSERT_EQ(kernel.type(), CV_32F);
  const cv::Mat result = golden::RunCase(c, input, kernel);
  ASSERT_EQ(result.size(), kept.size());
  if (c.blind) {
    const cv::Mat estimate = Read(c.name + "_estimate.tiff", cv::IMREAD_UNCHANGED);
    EXPECT_GE(tools::KernelSimilarity(kernel, estimate), 0.99);
    EXPECT_LE(ShareBeyond(result, kept, 2), 0.01);
  } else {
    EXPECT_LE(ShareBeyond(result, kept, 1), 0.001);
  }
}

INSTANTIATE_TEST_SUITE_P(Engine, Golden, ::testing::ValuesIn(golden::Cases()),
                         [](const auto& info) { return info.param.name; });
