// Finding the blur size: the size found on synthetic shakes of known extent,
// short and long, hand-held and sweeping, and the kernel at that size; the
// job's report for both estimators; the smallest picture a search accepts;
// a flat picture.
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <vector>

#include "estimation/sharp_estimator.h"
#include "frontend/job.h"
#include "tests/sample_mosaic.h"
#include "tools/metrics.h"
#include "tools/shake.h"

using namespace velmora;
using velmora::testing::SampleMosaic;

namespace {

// Taps of the true kernel counted in its extent: fainter ones carry too
// little of the blur to matter to the restoration.
constexpr double kExtentShare = 0.05;

struct Shake {
  int size;
  tools::ShakeKind kind;
  int pictureSide;
};

const char* Kind(tools::ShakeKind kind) { return kind == tools::ShakeKind::kSweep ? "sweep" : "hand-held"; }

// Within 20 % of the extent, or 4 pixels.
bool Near(int found, int extent) { return std::abs(found - extent) <= std::max(4.0, 0.2 * extent); }

// Neither cut to less than half the blur nor padded to twice it.
bool Plausible(int found, int extent) { return found >= extent / 2 - 4 && found <= 2 * extent + 4; }

// Each shake blurs the sample mosaic (noise 0.005); the search runs within
// the largest bound the picture allows. The size found must be near the
// true extent on both sides for nearAtLeast of the shakes and plausible
// for every one, and the kernel about as good as one estimated at a given
// size.
void ExpectFound(const std::vector<Shake>& shakes, double nearAtLeast) {
  size_t near = 0;
  for (const Shake& s : shakes) {
    const cv::Mat truth = tools::GenerateShakeKernel(s.size, 30 + s.size, s.kind);
    const cv::Mat blurred = tools::BlurImage(SampleMosaic(s.pictureSide, s.pictureSide), truth, 0.005, 7);
    const int bound = LargestBlurSide(s.pictureSide);
    std::vector<float> taps(static_cast<size_t>(bound) * bound, -1.0f);
    KernelSize found;
    ASSERT_TRUE(EstimateSharpKernel(blurred.ptr<float>(), blurred.rows, blurred.cols, taps.data(), bound,
                                    bound, SharpEstimatorParams{}, nullptr, &found))
        << s.size << " " << Kind(s.kind);
    const cv::Size extent = tools::KernelExtent(truth, kExtentShare);
    const cv::Mat kernel(found.rows, found.cols, CV_32F, taps.data());
    const double similarity = tools::KernelSimilarity(kernel, truth);
    SCOPED_TRACE(std::to_string(s.size) + " px " + Kind(s.kind) + ": extent " + std::to_string(extent.height) +
                 " x " + std::to_string(extent.width) + ", found " + std::to_string(found.rows) + " x " +
                 std::to_string(found.cols) + ", similarity " + std::to_string(similarity));
    EXPECT_TRUE(found.rows % 2 == 1 && found.cols % 2 == 1);
    EXPECT_TRUE(Plausible(found.rows, extent.height) && Plausible(found.cols, extent.width));
    near += Near(found.rows, extent.height) && Near(found.cols, extent.width);
    EXPECT_NEAR(cv::sum(kernel)[0], 1.0, 1e-4);
    EXPECT_GE(similarity, 0.7);
  }
  EXPECT_GE(near, nearAtLeast * shakes.size()) << near << " of " << shakes.size() << " near";
}

DeblurJob AutoJob(const cv::Mat& bgr, KernelEstimator estimator) {
  DeblurSettings settings;
  settings.kernelHeight = LargestBlurSide(bgr.rows);
  settings.kernelWidth = LargestBlurSide(bgr.cols);
  DeblurJob job(settings, nullptr);
  job.options.estimator = estimator;
  job.options.findBlurSize = true;
  job.input = bgr.clone();
  job.kernelPath.clear();
  job.mode = kModeComplete;
  job.context.log = [](const char*) {};
  return job;
}

cv::Mat Colour(const cv::Mat& grey) {
  cv::Mat bgr;
  cv::cvtColor(grey, bgr, cv::COLOR_GRAY2BGR);
  return bgr;
}

}  // namespace

TEST(BlurSize, FoundOnShortShakes) {
  ExpectFound({{7, tools::ShakeKind::kHandHeld, 300}, {7, tools::ShakeKind::kSweep, 300},
               {15, tools::ShakeKind::kHandHeld, 360}, {15, tools::ShakeKind::kSweep, 360},
               {25, tools::ShakeKind::kHandHeld, 400}, {25, tools::ShakeKind::kSweep, 400}},
              // Blurs of a few pixels come out a few pixels wider than they
              // are: an estimate is a little smoother than the blur.
              0.5);
}

TEST(BlurSize, FoundOnMiddleShakes) {
  ExpectFound({{37, tools::ShakeKind::kHandHeld, 500}, {37, tools::ShakeKind::kSweep, 500},
               {51, tools::ShakeKind::kHandHeld, 600}, {51, tools::ShakeKind::kSweep, 600}},
              0.75);
}

// The long ones: a faint stretch cut off at a coarse level would leave the
// size short, a support filled with noise would leave it long.
TEST(BlurSize, FoundOnLongShakes) {
  ExpectFound({{75, tools::ShakeKind::kHandHeld, 800}, {75, tools::ShakeKind::kSweep, 800},
               {101, tools::ShakeKind::kHandHeld, 1000}, {101, tools::ShakeKind::kSweep, 1000}},
              0.75);
}

// The job reports what it found and keeps a kernel of that size, with
// either estimator; the classic one works at the size the search found.
TEST(BlurSize, JobsReportTheSizeTheyFound) {
  const cv::Mat truth = tools::GenerateShakeKernel(21, 5, tools::ShakeKind::kHandHeld);
  const cv::Mat blurred = tools::BlurImage(SampleMosaic(360, 420), truth, 0.005, 3);
  const cv::Size extent = tools::KernelExtent(truth, kExtentShare);
  for (KernelEstimator estimator : {KernelEstimator::kSharp, KernelEstimator::kClassic}) {
    SCOPED_TRACE(EstimatorName(estimator));
    DeblurJob job = AutoJob(Colour(blurred), estimator);
    job.Run();
    ASSERT_EQ(job.status, kJobSucceeded);
    EXPECT_EQ(job.kernel.rows, job.foundKernelHeight);
    EXPECT_EQ(job.kernel.cols, job.foundKernelWidth);
    EXPECT_TRUE(job.foundKernelHeight % 2 == 1 && job.foundKernelWidth % 2 == 1);
    // The classic works at the search's size, margin included: never
    // shorter than the blur, and far from the bound.
    EXPECT_TRUE(Near(job.foundKernelHeight, extent.height) ||
                (estimator == KernelEstimator::kClassic && job.foundKernelHeight >= extent.height &&
                 job.foundKernelHeight < 2 * extent.height))
        << job.foundKernelHeight << " for " << extent.height;
    EXPECT_EQ(job.result.size(), blurred.size());
    // The settings keep the bound: the next run searches as widely.
    EXPECT_EQ(job.settings.kernelHeight, LargestBlurSide(360));
  }
}

// Three blur sizes across is the smallest picture a size fits; a search
// there works within 3 x 3 and finishes like any other job.
TEST(BlurSize, SearchOnTheSmallestPictureItAllows) {
  for (const cv::Size size : {cv::Size(9, 9), cv::Size(11, 9), cv::Size(40, 27)}) {
    const cv::Mat grey = SampleMosaic(size.height, size.width);
    for (KernelEstimator estimator : {KernelEstimator::kSharp, KernelEstimator::kClassic}) {
      DeblurJob job = AutoJob(Colour(grey), estimator);
      job.Run();
      EXPECT_TRUE(job.status == kJobSucceeded || job.status == kJobEstimationFailed) << job.status;
      if (job.status == kJobSucceeded) {
        EXPECT_TRUE(job.foundKernelHeight >= 3 && job.foundKernelHeight <= LargestBlurSide(size.height));
        EXPECT_TRUE(job.foundKernelWidth >= 3 && job.foundKernelWidth <= LargestBlurSide(size.width));
        EXPECT_EQ(job.result.size(), size);
      }
    }
  }
}

// A flat picture tells nothing about the blur, at any size.
TEST(BlurSize, FlatPictureIsInsufficientInformation) {
  const cv::Mat flat(200, 240, CV_32FC3, cv::Scalar(0.5, 0.5, 0.5));
  for (KernelEstimator estimator : {KernelEstimator::kSharp, KernelEstimator::kClassic}) {
    DeblurJob job = AutoJob(flat, estimator);
    job.Run();
    EXPECT_EQ(job.status, kJobEstimationFailed) << EstimatorName(estimator);
    EXPECT_EQ(job.foundKernelHeight, 0);
    EXPECT_EQ(job.foundKernelWidth, 0);
  }
}
