// Non-blind deblurring end to end: restoration quality, ringing reduction,
// progress reporting and refusals.
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sys/resource.h>

#include <cmath>
#include <fstream>
#include <vector>

#include "pipeline/deconvolve.h"
#include "pipeline/engine.h"
#include "pipeline/progress.h"
#include "pipeline/spectral.h"
#include "tests/engine_log.h"
#include "tests/progress_recorder.h"
#include "tests/sanitizers.h"
#include "tools/metrics.h"
#include "tools/shake.h"

using namespace velmora;

namespace {

// A 9 x 9 diagonal motion streak with a little spread.
cv::Mat StreakKernel() {
  cv::Mat k(9, 9, CV_32F, cv::Scalar(0));
  for (int t = 0; t < 9; ++t) k.at<float>(t, t) = 1.0f;
  for (int t = 0; t < 8; ++t) k.at<float>(t + 1, t) = 0.5f;
  return k / cv::sum(k)[0];
}

// Planar red, green, blue of a float BGR picture.
std::vector<float> Planar(const cv::Mat& bgr) {
  std::vector<cv::Mat> ch;
  cv::split(bgr, ch);
  std::vector<float> p;
  for (int c = 2; c >= 0; --c) p.insert(p.end(), ch[c].begin<float>(), ch[c].end<float>());
  return p;
}

// The float BGR picture of a planar result, saturated as the 8-bit
// conversion would.
cv::Mat FromPlanar(std::vector<float> planar, int rows, int cols) {
  std::vector<cv::Mat> ch;
  for (int c = 2; c >= 0; --c) ch.push_back(cv::Mat(rows, cols, CV_32F, planar.data() + GridSize(rows, cols) * c));
  cv::Mat bgr;
  cv::merge(ch, bgr);
  return cv::min(cv::max(bgr, 0.0), 1.0);
}

struct BlurCase {
  int rows, cols;
  cv::Mat sharp, blurredPicture;
  std::vector<float> blurred;
  cv::Mat kernel;
};

BlurCase MakeCase() {
  cv::Mat picture = cv::imread(VELMORA_SOURCE_DIR "/samples/coffee.png", cv::IMREAD_COLOR);
  EXPECT_FALSE(picture.empty());
  cv::Mat sharp;
  picture(cv::Rect(200, 100, 240, 200)).convertTo(sharp, CV_32F, 1.0 / 255);
  BlurCase c;
  c.rows = sharp.rows;
  c.cols = sharp.cols;
  c.kernel = StreakKernel();
  c.sharp = sharp;
  c.blurredPicture = tools::BlurImage(sharp, c.kernel, 0.0, 0);
  c.blurred = Planar(c.blurredPicture);
  return c;
}

}  // namespace

class Restoration : public ::testing::TestWithParam<int> {};

TEST_P(Restoration, GainsAtLeastThreeDecibels) {
  const BlurCase c = MakeCase();
  std::vector<float> out(c.blurred.size());
  const float smoothness = GetParam() ? 0.04f : 0.02f;
  ASSERT_EQ(DeblurWithKernel(c.blurred.data(), out.data(), c.kernel.ptr<float>(), c.rows, c.cols,
                             3, 9, 9, smoothness, 0, GetParam(), true, nullptr),
            0);
  const double before = tools::Psnr(c.blurredPicture, c.sharp, 9);
  const double after = tools::Psnr(FromPlanar(out, c.rows, c.cols), c.sharp, 9);
  EXPECT_GT(after, before + 3.0) << "TV-L" << (GetParam() ? 1 : 2);
}

INSTANTIATE_TEST_SUITE_P(L2AndL1, Restoration, ::testing::Values(0, 1));

TEST(RingingReduction, FlatAreasShiftByOneStepOnlyWhenOn) {
  // With an impulse kernel both solves agree, the coded difference is 127,
  // and it comes back as -1/128: the picture rises by 1/128.
  const int rows = 40, cols = 50;
  const std::vector<float> in(GridSize(rows, cols), 0.5f);
  const float impulse[9] = {0, 0, 0, 0, 1, 0, 0, 0, 0};
  std::vector<float> off(in.size()), on(in.size());
  ASSERT_EQ(DeblurWithKernel(in.data(), off.data(), impulse, rows, cols, 1, 3, 3, 0.04f, 0, 0, true, nullptr), 0);
  ASSERT_EQ(DeblurWithKernel(in.data(), on.data(), impulse, rows, cols, 1, 3, 3, 0.04f, 1, 0, true, nullptr), 0);
  for (size_t i = 0; i < in.size(); ++i) {
    ASSERT_NEAR(off[i], 0.5f, 1e-5f);
    ASSERT_NEAR(on[i], 0.5f + 1.0f / 128.0f, 1e-5f);
  }
}

TEST(DeblurWithKernel, GreyPlaneAndUnitKernel) {
  // A 1 x 1 kernel still puts the picture on the canvas: the result is the
  // picture, lightly smoothed, never black.
  const int rows = 30, cols = 30;
  std::vector<float> in(GridSize(rows, cols));
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) in[GridSize(i, cols) + j] = (i / 10 + j / 10) % 2 ? 0.8f : 0.2f;
  const float one = 1.0f;
  std::vector<float> out(in.size(), -1.0f);
  ASSERT_EQ(DeblurWithKernel(in.data(), out.data(), &one, rows, cols, 1, 1, 1, 0.04f, 0, 0, true, nullptr), 0);
  for (size_t i = 0; i < in.size(); ++i) ASSERT_NEAR(out[i], in[i], 0.05f);
}

TEST(DeblurWithKernel, RefusesUnusableInput) {
  const std::vector<float> in(GridSize(20, 20) * 3, 0.5f);
  std::vector<float> out(in.size());
  const float zeros[9] = {};
  const float nan[1] = {NAN};
  const float box[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_EQ(DeblurWithKernel(in.data(), out.data(), zeros, 20, 20, 3, 3, 3, 0.04f, 0, 0, true, nullptr),
            kEngineInvalidArgument);
  EXPECT_EQ(DeblurWithKernel(in.data(), out.data(), nan, 20, 20, 3, 1, 1, 0.04f, 0, 0, true, nullptr),
            kEngineInvalidArgument);
  EXPECT_EQ(DeblurWithKernel(in.data(), out.data(), box, 20, 20, 2, 3, 3, 0.04f, 0, 0, true, nullptr),
            kEngineInvalidArgument);
  EXPECT_EQ(DeblurWithKernel(in.data(), out.data(), box, 2, 2, 3, 3, 3, 0.04f, 0, 0, true, nullptr),
            kEngineInvalidArgument);
  // A NaN or infinite sample would spread to the whole result.
  for (const float bad : {NAN, INFINITY, -INFINITY}) {
    std::vector<float> spoiled = in;
    spoiled[77] = bad;
    EXPECT_EQ(DeblurWithKernel(spoiled.data(), out.data(), box, 20, 20, 3, 3, 3, 0.04f, 0, 0, true, nullptr),
              kEngineInvalidArgument);
  }
}

TEST(DeblurWithKernel, EvenKernelKeepsThePictureAndSaysSo) {
  const int rows = 24, cols = 24;
  std::vector<float> in(GridSize(rows, cols));
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<float>(i % 7) / 7.0f;
  const float k[4] = {0.25f, 0.25f, 0.25f, 0.25f};
  std::vector<float> out(in.size());
  const std::string log = testing_support::EngineLines([&] {
    EXPECT_EQ(DeblurWithKernel(in.data(), out.data(), k, rows, cols, 1, 2, 2, 0.04f, 0, 0, true, nullptr), 0);
  });
  EXPECT_NE(log.find("Error - blur kernel k must be odd-sized.\nerror in running deblur.\n"), std::string::npos);
  EXPECT_EQ(out, in);
}

TEST(Progress, StagesFollowTheValueFoundOnEntry) {
  const int rows = 200, cols = 240;
  const std::vector<float> in(GridSize(rows, cols) * 3, 0.5f);
  const float box[9] = {1 / 9.f, 1 / 9.f, 1 / 9.f, 1 / 9.f, 1 / 9.f, 1 / 9.f, 1 / 9.f, 1 / 9.f, 1 / 9.f};
  for (float start : {-1.0f, 50.0f}) {
    ProgressCell cell = start;
    std::vector<float> out(in.size());
    testing_support::ProgressRecorder recorder(&cell);
    ASSERT_EQ(DeblurWithKernel(in.data(), out.data(), box, rows, cols, 3, 3, 3, 0.04f, 0, 0, true, &cell), 0);
    const std::vector<float> seen = recorder.Stop();
    EXPECT_FLOAT_EQ(cell, 99.0f);
    const float lo = start + 0.40f * (99 - start), hi = start + 0.41f * (99 - start);
    for (float v : seen)
      EXPECT_TRUE(v == start || v == 99.0f || (v >= lo - 1e-4f && v < hi)) << v;
  }
  // No cell: nothing to write, same result.
  std::vector<float> a(in.size()), b(in.size());
  ProgressCell cell = -1;
  ASSERT_EQ(DeblurWithKernel(in.data(), a.data(), box, rows, cols, 3, 3, 3, 0.04f, 0, 0, true, nullptr), 0);
  ASSERT_EQ(DeblurWithKernel(in.data(), b.data(), box, rows, cols, 3, 3, 3, 0.04f, 0, 0, true, &cell), 0);
  EXPECT_EQ(a, b);
}

namespace {

size_t VirtualBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t pages = 0;
  statm >> pages;
  return pages * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// Runs in a child: with the address space capped just above what the input
// needs, the canvas cannot be had.
int DeblurUnderMemoryCap() {
  const int rows = 3000, cols = 3000;
  std::vector<float> in(GridSize(rows, cols) * 3, 0.5f), out(in.size());
  const float box[9] = {1 / 9.f, 1 / 9.f, 1 / 9.f, 1 / 9.f, 1 / 9.f, 1 / 9.f, 1 / 9.f, 1 / 9.f, 1 / 9.f};
  const rlimit cap{VirtualBytes() + (64u << 20), RLIM_INFINITY};
  setrlimit(RLIMIT_AS, &cap);
  return DeblurWithKernel(in.data(), out.data(), box, rows, cols, 3, 3, 3, 0.04f, 0, 0, true, nullptr);
}

}  // namespace

TEST(DeblurWithKernelDeathTest, OutOfMemoryIsReportedNotCrashed) {
  VELMORA_SKIP_UNDER_ASAN();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(DeblurUnderMemoryCap() == kEngineOutOfMemory ? 0 : 1),
              ::testing::ExitedWithCode(0), "");
}
