// The job logic shared by the worker thread and the command-line tool.
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>

#include "frontend/job.h"
#include "engine/memory_budget.h"
#include "tests/sanitizers.h"

using namespace velmora;

namespace {

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("velmora_job_" + name)).string();
}

// A picture whose three channels differ everywhere.
cv::Mat Colourful(int rows, int cols) {
  cv::Mat m(rows, cols, CV_8UC3);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) m.at<cv::Vec3b>(i, j) = cv::Vec3b(i % 256, j % 256, (i + 2 * j) % 256);
  return m;
}

bool Same(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// Binary noise has no edges a kernel could explain: the estimation fails.
cv::Mat BinaryNoise(int rows, int cols) {
  cv::Mat noise(rows, cols, CV_8UC3);
  std::mt19937 rng(9);
  for (auto it = noise.begin<cv::Vec3b>(); it != noise.end<cv::Vec3b>(); ++it) {
    const uchar v = rng() % 2 ? 227 : 0;
    *it = cv::Vec3b(v, v, v);
  }
  return noise;
}

}  // namespace

TEST(Region, PixelsFollowTruncationAndStayInside) {
  const PixelRegion r = RegionInPixels({0.25, 0.25, 0.5, 0.5}, 480, 640);
  EXPECT_EQ(r.col0, 160);
  EXPECT_EQ(r.row0, 120);
  EXPECT_EQ(r.rows, 241);
  EXPECT_EQ(r.cols, 321);
  // Reaching past the right and bottom edges, or starting before the left.
  const PixelRegion past = RegionInPixels({0.8, 0.5, 0.5, 1.0}, 480, 640);
  EXPECT_EQ(past.col0, 512);
  EXPECT_EQ(past.col0 + past.cols, 640);
  EXPECT_EQ(past.row0 + past.rows, 480);
  const PixelRegion before = RegionInPixels({-0.5, 0.0, 0.75, 1.0}, 480, 640);
  EXPECT_EQ(before.col0, 0);
  EXPECT_EQ(before.cols, 161);
  EXPECT_EQ(RegionInPixels({NAN, 0, 1, 1}, 480, 640).rows, 0);
}

TEST(Region, ApplicationMinimum) {
  EXPECT_EQ(MinimumRegionSide(51), 200);
  EXPECT_EQ(MinimumRegionSide(71), 213);
  EXPECT_TRUE(RegionAccepted({0, 0, 0.5, 0.5}, 400, 400, 19, 19));
  EXPECT_FALSE(RegionAccepted({0, 0, 0.49, 0.5}, 400, 400, 19, 19));
  EXPECT_FALSE(RegionAccepted({0, 0, 0.5, 0.5}, 400, 400, 71, 19));
}

TEST(KernelPicture, ScaledByItsMaximum) {
  cv::Mat k(3, 3, CV_32F, cv::Scalar(0));
  k.at<float>(1, 1) = 0.04f;
  k.at<float>(0, 2) = 0.01f;
  const std::string path = TempPath("kernel.png");
  ASSERT_TRUE(WriteKernelPicture(k, path));
  const cv::Mat written = cv::imread(path, cv::IMREAD_UNCHANGED);
  ASSERT_EQ(written.type(), CV_8U);
  EXPECT_EQ(written.at<uchar>(1, 1), 255);
  EXPECT_EQ(written.at<uchar>(0, 2), 64);  // 63.75 rounded
  EXPECT_EQ(written.at<uchar>(2, 0), 0);
  EXPECT_FALSE(WriteKernelPicture(k, "/nonexistent-folder/kernel.png"));
  std::filesystem::remove(path);
}

TEST(Job, KnownImpulseKernelGivesThePictureBack) {
  // Smoothness 0 runs no solver pass: the round trip through the planar
  // red, green, blue layout must be exact.
  DeblurSettings settings;
  settings.smoothness = 0.0f;
  DeblurJob job(settings, nullptr);
  job.input = Colourful(210, 230);
  const cv::Mat original = job.input.clone();
  job.kernelPath = TempPath("impulse.png");
  cv::Mat impulse(3, 3, CV_32F, cv::Scalar(0));
  impulse.at<float>(1, 1) = 1.0f;
  job.UseKnownKernel(impulse);
  job.mode = kModeRemaining;
  job.Run();
  EXPECT_EQ(job.status, kJobSucceeded);
  EXPECT_TRUE(Same(job.result, original));
  EXPECT_TRUE(std::filesystem::exists(job.kernelPath));
  std::filesystem::remove(job.kernelPath);
}

TEST(Job, UnknownModeAndUnusableRegion) {
  DeblurJob job(DeblurSettings{}, nullptr);
  job.input = Colourful(300, 300);
  job.kernelPath.clear();
  job.mode = "everything";
  job.Run();
  EXPECT_EQ(job.status, kJobNoMode);
  EXPECT_TRUE(job.result.empty());
  job.mode = kModePartial;
  job.region = {0.9, 0.9, 0.5, 0.5};  // 150 pixels after clamping
  job.Run();
  EXPECT_EQ(job.status, kJobInvalidInput);
  job.mode = kModeRemaining;  // no kernel yet
  job.Run();
  EXPECT_EQ(job.status, kJobInvalidInput);
}

TEST(Job, FailedPartialRunReturnsThePicture) {
  const cv::Mat noise = BinaryNoise(300, 300);
  DeblurJob job(DeblurSettings{}, nullptr);
  job.input = noise.clone();
  job.kernelPath.clear();
  job.mode = kModePartial;
  job.region = {0.1, 0.1, 0.8, 0.8};
  job.Run();
  EXPECT_EQ(job.status, kJobEstimationFailed);
  EXPECT_TRUE(Same(job.result, noise));
}

TEST(Job, RemainingReusesThePartialKernel) {
  DeblurSettings settings;
  settings.kernelHeight = settings.kernelWidth = 21;
  ProgressCell cell = -1;
  DeblurJob job(settings, &cell);
  job.input = cv::imread(VELMORA_SOURCE_DIR "/samples/coffee_blurred.png", cv::IMREAD_COLOR);
  ASSERT_FALSE(job.input.empty());
  const cv::Mat picture = job.input.clone();
  job.kernelPath = TempPath("partial.png");
  job.mode = kModePartial;
  job.region = {0.25, 0.25, 0.5, 0.5};
  job.Run();
  ASSERT_EQ(job.status, kJobSucceeded);
  EXPECT_GT(job.seconds, 0.0f);
  EXPECT_FLOAT_EQ(cell, 99.9f);
  const PixelRegion r = RegionInPixels(job.region, picture.rows, picture.cols);
  const cv::Rect inside(r.col0, r.row0, r.cols, r.rows);
  cv::Mat outside = job.result.clone(), untouched = picture.clone();
  outside(inside).setTo(0);
  untouched(inside).setTo(0);
  EXPECT_TRUE(Same(outside, untouched));
  EXPECT_GT(cv::norm(job.result(inside), picture(inside), cv::NORM_L1), 0.0);
  const cv::Mat kernel = job.kernel.clone();
  const cv::Mat firstPicture = cv::imread(job.kernelPath, cv::IMREAD_UNCHANGED);

  job.mode = kModeRemaining;
  job.Run();
  ASSERT_EQ(job.status, kJobSucceeded);
  EXPECT_TRUE(Same(job.kernel, kernel));
  EXPECT_TRUE(Same(cv::imread(job.kernelPath, cv::IMREAD_UNCHANGED), firstPicture));
  EXPECT_EQ(job.result.size(), picture.size());
  EXPECT_GT(cv::norm(job.result, picture, cv::NORM_L1), cv::norm(job.result(inside), picture(inside), cv::NORM_L1));
  std::filesystem::remove(job.kernelPath);
}

TEST(Job, FailedPartialRunKeepsTheLastUsableKernel) {
  // A successful run on the sample, then a failing one on noise on the same
  // job object: the whole-picture run must still have the first kernel.
  DeblurSettings settings;
  settings.kernelHeight = settings.kernelWidth = 21;
  DeblurJob job(settings, nullptr);
  job.input = cv::imread(VELMORA_SOURCE_DIR "/samples/coffee_blurred.png", cv::IMREAD_COLOR);
  ASSERT_FALSE(job.input.empty());
  job.kernelPath = TempPath("kept.png");
  job.mode = kModePartial;
  job.region = {0.25, 0.25, 0.5, 0.5};
  job.Run();
  ASSERT_EQ(job.status, kJobSucceeded);
  const cv::Mat usable = job.kernel.clone();

  job.region = {0.9, 0.9, 0.05, 0.05};  // refused before the engine runs
  job.Run();
  EXPECT_EQ(job.status, kJobInvalidInput);
  EXPECT_TRUE(Same(job.kernel, usable));

  job.input = BinaryNoise(300, 300);
  job.region = {0.1, 0.1, 0.8, 0.8};
  job.Run();
  EXPECT_EQ(job.status, kJobEstimationFailed);
  EXPECT_TRUE(Same(job.kernel, usable));
  std::filesystem::remove(job.kernelPath);
}

TEST(Job, RemainingRefusesAnAllZeroKernel) {
  DeblurJob job(DeblurSettings{}, nullptr);
  job.input = Colourful(210, 210);
  job.kernelPath.clear();
  job.UseKnownKernel(cv::Mat(5, 5, CV_32F, cv::Scalar(0)));
  job.mode = kModeRemaining;
  job.Run();
  EXPECT_EQ(job.status, kJobInvalidInput);
  EXPECT_TRUE(job.result.empty());
}

TEST(MemoryBudget, ModelAndMessage) {
  constexpr size_t kGiB = size_t{1} << 30;
  EXPECT_EQ(MemoryShortfall(static_cast<size_t>(9.1 * kGiB), 6 * kGiB),
            "needs about 9.1 GiB of memory; 6.0 GiB are free");
  const size_t known = EngineMemoryBytes(2989, 3986, 3, 31, 31, false, 0, 0);
  const size_t blind = EngineMemoryBytes(2989, 3986, 3, 31, 31, true, 0, 0);
  EXPECT_GE(blind, known);
  EXPECT_GT(EngineMemoryBytes(2989, 3986, 3, 31, 31, false, 1, 1), known);
  // It grows with the picture, about four times for twice the sides.
  const double ratio = static_cast<double>(EngineMemoryBytes(4000, 6000, 3, 31, 31, true, 0, 0)) /
                       EngineMemoryBytes(2000, 3000, 3, 31, 31, true, 0, 0);
  EXPECT_GT(ratio, 3.5);
  EXPECT_LT(ratio, 4.5);
  EXPECT_TRUE(AvailableMemoryBytes().has_value());
}

TEST(MemoryBudget, JobThatCannotFitIsRefusedBeforeItStarts) {
  VELMORA_SKIP_UNDER_ASAN();
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
  // Room for a small job and for the test itself, not for a 3000 x 3000 one.
  size_t inUse = 0;
  {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("VmSize:", 0) == 0) inUse = std::stoull(line.substr(7)) * 1024;
  }
  rlimit tight = saved;
  tight.rlim_cur = inUse + (size_t{400} << 20);
  ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
  const std::optional<size_t> available = AvailableMemoryBytes();

  DeblurJob big(DeblurSettings{}, nullptr);
  big.input = Colourful(3000, 3000);
  big.kernelPath.clear();
  big.mode = kModeComplete;
  big.Run();
  DeblurJob small(DeblurSettings{}, nullptr);
  small.input = Colourful(210, 230);
  small.kernelPath.clear();
  small.UseKnownKernel(cv::Mat(3, 3, CV_32F, cv::Scalar(1.0 / 9)));
  small.mode = kModeRemaining;
  small.Run();
  ASSERT_EQ(setrlimit(RLIMIT_AS, &saved), 0);

  ASSERT_TRUE(available.has_value());
  EXPECT_LE(*available, size_t{400} << 20);
  EXPECT_EQ(big.status, kJobOutOfMemory);
  EXPECT_TRUE(big.result.empty());
  EXPECT_EQ(big.memoryShortfall.rfind("needs about ", 0), 0u) << big.memoryShortfall;
  EXPECT_NE(big.memoryShortfall.find("GiB are free"), std::string::npos);
  EXPECT_EQ(small.status, kJobSucceeded);
  EXPECT_TRUE(small.memoryShortfall.empty());
}
