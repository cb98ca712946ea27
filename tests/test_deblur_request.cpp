// The library's entry: one request, one outcome, the same answers as the
// planar entries the front ends were first built on.
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/engine.h"
#include "tools/shake.h"
#include "velmora/deblur.h"

using namespace velmora;

namespace {

cv::Mat Sample() {
  return cv::imread(std::string(VELMORA_SOURCE_DIR) + "/samples/coffee_blurred.png", cv::IMREAD_COLOR);
}

bool Same(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// Planar red, green, blue on the 0-1 scale, as the planar entries take them.
std::vector<float> Planar(const cv::Mat& bgr) {
  std::vector<cv::Mat> planes;
  cv::Mat unit;
  bgr.convertTo(unit, CV_32F, 1.0f / 255.0f, 0.0);
  cv::split(unit, planes);
  std::vector<float> out;
  for (int k = 2; k >= 0; --k) out.insert(out.end(), planes[k].begin<float>(), planes[k].end<float>());
  return out;
}

cv::Mat FromPlanar(const std::vector<float>& planar, int rows, int cols) {
  std::vector<cv::Mat> planes;
  for (int k = 2; k >= 0; --k)
    planes.push_back(cv::Mat(rows, cols, CV_32F, const_cast<float*>(planar.data()) + k * rows * cols));
  cv::Mat merged, stored;
  cv::merge(planes, merged);
  merged.convertTo(stored, CV_8U, 255.0, 0.0);
  return stored;
}

DeblurRequest Blind(int side) {
  DeblurRequest q;
  q.blurHeight = q.blurWidth = side;
  return q;
}

}  // namespace

TEST(DeblurRequestEntry, AnswersAsThePlanarEntriesDo) {
  const cv::Mat picture = Sample();
  ASSERT_FALSE(picture.empty());
  const DeblurOutcome blind = Deblur(Blind(19), picture);
  ASSERT_EQ(blind.result, DeblurResult::kSucceeded);
  EXPECT_EQ(blind.picture.type(), CV_8UC3);
  ASSERT_EQ(blind.kernel.size(), cv::Size(19, 19));
  EXPECT_NEAR(cv::sum(blind.kernel)[0], 1.0, 1e-4);

  const std::vector<float> in = Planar(picture);
  std::vector<float> out(in.size());
  std::vector<float> kernel(19 * 19);
  ASSERT_EQ(DeblurImage(in.data(), out.data(), picture.rows, picture.cols, 3, kernel.data(), 19, 19,
                        1.0f, 1.0f, 0.04f, 0, 0, true, nullptr),
            1);
  EXPECT_TRUE(Same(FromPlanar(out, picture.rows, picture.cols), blind.picture));
  EXPECT_TRUE(Same(cv::Mat(19, 19, CV_32F, kernel.data()), blind.kernel));

  // The known-kernel mode is DeblurWithKernel's restore.
  DeblurRequest known;
  known.mode = DeblurMode::kKnownKernel;
  known.knownKernel = blind.kernel;
  known.reduceRinging = true;
  const DeblurOutcome restored = Deblur(known, picture);
  ASSERT_EQ(restored.result, DeblurResult::kSucceeded);
  ASSERT_EQ(DeblurWithKernel(in.data(), out.data(), kernel.data(), picture.rows, picture.cols, 3, 19,
                             19, 0.04f, 1, 0, true, nullptr),
            0);
  EXPECT_TRUE(Same(FromPlanar(out, picture.rows, picture.cols), restored.picture));
}

TEST(DeblurRequestEntry, RegionModesEstimateOnTheRegionOnly) {
  const cv::Mat picture = Sample();
  DeblurRequest q = Blind(19);
  q.mode = DeblurMode::kRegion;
  q.region = {0.1, 0.1, 0.8, 0.8};
  const DeblurOutcome region = Deblur(q, picture);
  ASSERT_EQ(region.result, DeblurResult::kSucceeded);
  // Outside the region the picture is as it came.
  EXPECT_TRUE(Same(region.picture.row(0), picture.row(0)));
  EXPECT_FALSE(Same(region.picture, picture));

  q.mode = DeblurMode::kRegionThenWhole;
  const DeblurOutcome whole = Deblur(q, picture);
  ASSERT_EQ(whole.result, DeblurResult::kSucceeded);
  EXPECT_TRUE(Same(whole.kernel, region.kernel));
  DeblurRequest known;
  known.mode = DeblurMode::kKnownKernel;
  known.knownKernel = region.kernel;
  EXPECT_TRUE(Same(Deblur(known, picture).picture, whole.picture));

  // A region below three blur sizes (or 200 px) is refused before any work.
  q.region = {0.1, 0.1, 0.2, 0.2};
  const DeblurOutcome small = Deblur(q, picture);
  EXPECT_EQ(small.result, DeblurResult::kInvalidInput);
  EXPECT_TRUE(small.picture.empty());
}

TEST(DeblurRequestEntry, GreyAndDeepPicturesKeepTheirShape) {
  const cv::Mat colour = Sample();
  cv::Mat grey, deep;
  cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
  colour.convertTo(deep, CV_16U, 257.0);
  DeblurRequest known;
  known.mode = DeblurMode::kKnownKernel;
  known.knownKernel = cv::Mat::ones(5, 5, CV_32F) / 25.0f;
  const DeblurOutcome g = Deblur(known, grey);
  ASSERT_EQ(g.result, DeblurResult::kSucceeded);
  EXPECT_EQ(g.picture.type(), CV_8UC1);
  EXPECT_EQ(g.picture.size(), grey.size());
  const DeblurOutcome d = Deblur(known, deep);
  ASSERT_EQ(d.result, DeblurResult::kSucceeded);
  EXPECT_EQ(d.picture.type(), CV_16UC3);
  // The grey result is the restore of the grey picture, not of a colour one.
  cv::Mat restoredGrey;
  cv::cvtColor(Deblur(known, colour).picture, restoredGrey, cv::COLOR_BGR2GRAY);
  EXPECT_LT(cv::norm(restoredGrey, g.picture, cv::NORM_L1) / grey.total(), 2.0);
}

TEST(DeblurRequestEntry, RefusesWhatItCannotUse) {
  const cv::Mat picture = Sample();
  EXPECT_EQ(Deblur(Blind(19), cv::Mat()).result, DeblurResult::kInvalidInput);
  EXPECT_EQ(Deblur(Blind(19), cv::Mat(300, 300, CV_8UC2, cv::Scalar(9, 9))).result, DeblurResult::kInvalidInput);
  EXPECT_EQ(Deblur(Blind(19), cv::Mat(300, 300, CV_64FC3, cv::Scalar::all(0.5))).result,
            DeblurResult::kInvalidInput);
  EXPECT_EQ(Deblur(Blind(1), picture).result, DeblurResult::kInvalidInput);
  cv::Mat nan(300, 300, CV_32FC3, cv::Scalar::all(0.5));
  nan.at<cv::Vec3f>(7, 7)[1] = std::nanf("");
  EXPECT_EQ(Deblur(Blind(19), nan).result, DeblurResult::kInvalidInput);
  DeblurRequest known;
  known.mode = DeblurMode::kKnownKernel;
  EXPECT_EQ(Deblur(known, picture).result, DeblurResult::kInvalidInput);  // no kernel
  known.knownKernel = cv::Mat::zeros(5, 5, CV_32F);
  EXPECT_EQ(Deblur(known, picture).result, DeblurResult::kInvalidInput);
}

TEST(DeblurRequestEntry, ControlStopsWatchesAndHearsTheJob) {
  const cv::Mat picture = Sample();
  DeblurControl stopped;
  stopped.cancel = true;
  const DeblurOutcome none = Deblur(Blind(19), picture, &stopped);
  EXPECT_EQ(none.result, DeblurResult::kCancelled);
  EXPECT_TRUE(none.picture.empty());
  EXPECT_TRUE(none.kernel.empty());

  DeblurControl control;
  std::vector<std::string> lines;
  control.log = [&lines](const char* line) { lines.emplace_back(line); };
  std::vector<float> seen;
  DeblurOutcome outcome;
  std::atomic<bool> finished{false};
  std::thread job([&] {
    outcome = Deblur(Blind(19), picture, &control);
    finished = true;
  });
  while (!finished) {
    seen.push_back(control.Progress());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  job.join();
  ASSERT_EQ(outcome.result, DeblurResult::kSucceeded);
  EXPECT_GE(control.Progress(), 99.0f);
  // Read from this thread while the job ran, the progress never went back.
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "start kernel estimation...\n");
}

TEST(DeblurRequestEntry, FindsTheSizeWithinTheBound) {
  cv::Mat sharp = cv::imread(std::string(VELMORA_SOURCE_DIR) + "/samples/coffee.png", cv::IMREAD_COLOR);
  ASSERT_FALSE(sharp.empty());
  cv::Mat unit;
  sharp.convertTo(unit, CV_32F, 1.0 / 255.0);
  const cv::Mat kernel = tools::GenerateShakeKernel(15, 3);
  cv::Mat blurred;
  tools::BlurImage(unit, kernel, 0.0, 3).convertTo(blurred, CV_8U, 255.0);
  DeblurRequest q = Blind(41);
  q.estimator = KernelEstimator::kSharp;
  q.findBlurSize = true;
  const DeblurOutcome found = Deblur(q, blurred);
  ASSERT_EQ(found.result, DeblurResult::kSucceeded);
  EXPECT_GT(found.foundHeight, 0);
  EXPECT_LE(found.foundHeight, 41);
  EXPECT_EQ(found.kernel.rows, found.foundHeight);
  EXPECT_EQ(found.kernel.cols, found.foundWidth);
  EXPECT_EQ(MaxBlurSide(400), 121);
  EXPECT_EQ(MaxBlurSide(100), 33);
  EXPECT_EQ(MaxBlurSide(8), 0);
}

TEST(DeblurRequestEntry, CallsFromTwoThreadsTakeTurnsAndAgree) {
  const cv::Mat picture = Sample();
  DeblurRequest known;
  known.mode = DeblurMode::kKnownKernel;
  known.knownKernel = cv::Mat::ones(7, 7, CV_32F) / 49.0f;
  const DeblurOutcome alone = Deblur(known, picture);
  const DeblurOutcome blindAlone = Deblur(Blind(15), picture);
  // Each job's lines reach its own control only: were the two jobs to
  // overlap, the engine's one current context would carry one job's
  // lines (and stop requests) to the other.
  DeblurControl restoring, estimating;
  std::vector<std::string> restoreLines, estimateLines;
  restoring.log = [&restoreLines](const char* line) { restoreLines.emplace_back(line); };
  estimating.log = [&estimateLines](const char* line) { estimateLines.emplace_back(line); };
  DeblurOutcome first, second;
  for (int round = 0; round < 3; ++round) {
    restoreLines.clear();
    estimateLines.clear();
    std::thread a([&] { first = Deblur(known, picture, &restoring); });
    std::thread b([&] { second = Deblur(Blind(15), picture, &estimating); });
    a.join();
    b.join();
    ASSERT_EQ(first.result, DeblurResult::kSucceeded);
    ASSERT_EQ(second.result, DeblurResult::kSucceeded);
    for (const std::string& line : restoreLines) EXPECT_EQ(line.find("Level"), std::string::npos) << line;
    EXPECT_EQ(std::count(estimateLines.begin(), estimateLines.end(), "start kernel estimation...\n"), 1);
    EXPECT_EQ(std::count(restoreLines.begin(), restoreLines.end(), "start padding image...\n"), 1);
  }
  EXPECT_TRUE(Same(first.picture, alone.picture));
  EXPECT_TRUE(Same(second.picture, blindAlone.picture));
  EXPECT_TRUE(Same(second.kernel, blindAlone.kernel));
}
