// The estimation entry as the job calls it: refusals, the console lines,
// the impulse shortcut, failure, even kernel sizes, non-finite input,
// progress reporting, and blind deblurring of a photograph blurred by a
// generated camera shake.
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "pipeline/engine.h"
#include "pipeline/progress.h"
#include "pipeline/spectral.h"
#include "tests/engine_log.h"
#include "tests/progress_recorder.h"
#include "tools/metrics.h"
#include "tools/shake.h"

namespace {

constexpr int kSide = 96;

// Piecewise-constant blocks: sharp edges and nothing else.
std::vector<float> Blocks(unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> u(0.1f, 0.9f);
  std::vector<float> values(64);
  for (float& v : values) v = u(random);
  std::vector<float> image(kSide * kSide);
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) image[y * kSide + x] = values[(y / 12) * 8 + x / 12];
  return image;
}

// The blocks seen through a horizontal 7-pixel streak (replicated borders).
std::vector<float> StreakedBlocks(unsigned seed) {
  const std::vector<float> sharp = Blocks(seed);
  std::vector<float> image(sharp.size());
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      float sum = 0.0f;
      for (int d = -3; d <= 3; ++d) sum += sharp[y * kSide + std::clamp(x + d, 0, kSide - 1)];
      image[y * kSide + x] = sum / 7.0f;
    }
  return image;
}

// Salt-and-pepper of 0 and 0.89: no kernel explains it, and the checked
// latent update overshoots on far more than a fifth of the pixels.
std::vector<float> BinaryNoise() {
  std::mt19937 random(0);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::vector<float> image(kSide * kSide);
  for (float& v : image) v = u(random) < 0.5f ? 0.0f : 0.89f;
  return image;
}

struct Outcome {
  int result = -100;
  std::vector<float> output, kernel;
  std::string console;
};

constexpr float kUntouched = -7.0f;

Outcome Deblur(const std::vector<float>& input, int channels, int kernelSide,
               ProgressCell* cell = nullptr) {
  Outcome r;
  r.output.assign(input.size(), kUntouched);
  r.kernel.assign(static_cast<size_t>(kernelSide) * kernelSide, kUntouched);
  r.console = velmora::testing_support::EngineLines([&] {
    r.result = DeblurImage(input.data(), r.output.data(), kSide, kSide, channels, r.kernel.data(),
                           kernelSide, kernelSide, 1.0f, 1.0f, 0.04f, 0, 0, true, cell);
  });
  return r;
}

bool IsEstimatedKernel(const std::vector<float>& k) {
  double sum = 0.0;
  for (float v : k) {
    if (!(v >= 0.0f) || !std::isfinite(v)) return false;
    sum += v;
  }
  return std::fabs(sum - 1.0) < 1e-4;
}

TEST(EstimationEntry, RefusesUnusableArguments) {
  const std::vector<float> image = Blocks(1);
  std::vector<float> out(image.size()), k(9);
  auto call = [&](const float* in, float* o, int rows, int channels, float* kernel, int kh, int kw) {
    return DeblurImage(in, o, rows, kSide, channels, kernel, kh, kw, 1.0f, 1.0f, 0.04f, 0, 0, true,
                       nullptr);
  };
  EXPECT_EQ(call(image.data(), out.data(), kSide, 1, k.data(), 1, 9), kEngineInvalidArgument);
  EXPECT_EQ(call(image.data(), out.data(), kSide, 1, k.data(), 3, 2), kEngineInvalidArgument);
  EXPECT_EQ(call(image.data(), out.data(), kSide, 2, k.data(), 3, 3), kEngineInvalidArgument);
  EXPECT_EQ(call(image.data(), out.data(), 2, 1, k.data(), 3, 3), kEngineInvalidArgument);
  EXPECT_EQ(call(nullptr, out.data(), kSide, 1, k.data(), 3, 3), kEngineInvalidArgument);
  EXPECT_EQ(call(image.data(), nullptr, kSide, 1, k.data(), 3, 3), kEngineInvalidArgument);
  EXPECT_EQ(call(image.data(), out.data(), kSide, 1, nullptr, 3, 3), kEngineInvalidArgument);
}

TEST(EstimationEntry, SharpPictureComesBackUnchanged) {
  const std::vector<float> image = Blocks(1);
  const Outcome r = Deblur(image, 1, 5);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.output, image);  // identical: a copy, not a deconvolution
  EXPECT_TRUE(IsEstimatedKernel(r.kernel));
  EXPECT_EQ(r.console, "start kernel estimation...\nLevel 2\nLevel 1\nLevel 0\n");
  // The smallest kernel runs two levels.
  const Outcome smallest = Deblur(image, 1, 3);
  EXPECT_EQ(smallest.result, 1);
  EXPECT_EQ(smallest.console.rfind("start kernel estimation...\nLevel 1\nLevel 0\n", 0), 0u);
}

TEST(EstimationEntry, FailureKeepsTheOutputAndWritesTheKernel) {
  ProgressCell cell = -1.0f;
  const Outcome r = Deblur(BinaryNoise(), 1, 9, &cell);
  ASSERT_EQ(r.result, 0);
  for (float v : r.output) ASSERT_EQ(v, kUntouched);
  EXPECT_TRUE(IsEstimatedKernel(r.kernel));
  EXPECT_EQ(ReadProgress(&cell), 99.9f);
  const std::string expected = "start kernel estimation...\nLevel 3\nLevel 2\nLevel 1\nLevel 0\n"
                               "Kernel Estimation Fails!\n";
  EXPECT_EQ(r.console, expected);
}

TEST(EstimationEntry, EvenKernelIsEstimatedButNotRestored) {
  const Outcome r = Deblur(StreakedBlocks(3), 1, 10);
  EXPECT_EQ(r.result, kEngineInvalidArgument);
  for (float v : r.output) ASSERT_EQ(v, kUntouched);
  EXPECT_TRUE(IsEstimatedKernel(r.kernel));
  EXPECT_NE(r.console.find("Level 0\n"), std::string::npos);
  EXPECT_EQ(r.console.find("Kernel Estimation Fails!"), std::string::npos);
}

TEST(EstimationEntry, ColourNegativeAndNonFiniteSamples) {
  // Three planes; negative samples (whose gamma power is NaN) are taken as
  // black by the working image, so the kernel stays finite.
  const std::vector<float> grey = StreakedBlocks(4);
  std::vector<float> colour;
  for (int c = 0; c < 3; ++c) colour.insert(colour.end(), grey.begin(), grey.end());
  colour[kSide * kSide + 200] = -0.5f;
  const Outcome r = Deblur(colour, 3, 9);
  EXPECT_EQ(r.result, 1);
  EXPECT_TRUE(IsEstimatedKernel(r.kernel));
  // The streak is horizontal: the kernel's mass lies mostly on its centre
  // row.
  float centreRow = 0.0f;
  for (int j = 0; j < 9; ++j) centreRow += r.kernel[4 * 9 + j];
  EXPECT_GT(centreRow, 0.5f);
  // A NaN or an infinity would spread through every transform to the whole
  // result: such a picture is refused, its output untouched.
  for (const float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    std::vector<float> spoiled = colour;
    spoiled[100] = bad;
    const Outcome refused = Deblur(spoiled, 3, 9);
    EXPECT_EQ(refused.result, kEngineInvalidArgument);
    for (float v : refused.output) ASSERT_EQ(v, kUntouched);
  }
}

TEST(EstimationEntry, ProgressWithAndWithoutACell) {
  const std::vector<float> image = StreakedBlocks(5);
  ProgressCell cell = -1.0f;
  velmora::testing_support::ProgressRecorder recorder(&cell);
  const Outcome withCell = Deblur(image, 1, 9, &cell);
  const std::vector<float> seen = recorder.Stop();
  EXPECT_EQ(ReadProgress(&cell), 99.9f);
  // The estimation's values rise from 2 to 50 before any value of the
  // deconvolution range, and nothing goes past 99.9.
  bool deconvolving = false;
  float previous = -1.0f;
  for (float v : seen) {
    if (v == -1.0f) continue;
    EXPECT_GE(v, 2.0f);
    EXPECT_LE(v, 99.9f);
    if (v > 50.0f) deconvolving = true;
    if (!deconvolving) {
      EXPECT_GE(v, previous);
      previous = v;
    } else {
      EXPECT_GE(v, 50.0f);
    }
  }
  const Outcome withoutCell = Deblur(image, 1, 9, nullptr);
  EXPECT_EQ(withCell.result, 1);
  EXPECT_EQ(withoutCell.result, 1);
  EXPECT_EQ(withCell.kernel, withoutCell.kernel);
  EXPECT_EQ(withCell.output, withoutCell.output);
}

// A 256 x 256 crop of the cat, float BGR.
cv::Mat SamplePhoto() {
  const cv::Mat picture =
      cv::imread(std::string(VELMORA_SOURCE_DIR) + "/samples/chelsea.png", cv::IMREAD_COLOR);
  cv::Mat crop;
  if (!picture.empty()) picture(cv::Rect(100, 20, 256, 256)).convertTo(crop, CV_32F, 1.0 / 255.0);
  return crop;
}

TEST(EstimationEndToEnd, RecoversGeneratedShake) {
  const cv::Mat sharp = SamplePhoto();
  ASSERT_FALSE(sharp.empty());
  const int n = sharp.rows;
  // (true kernel side, seed, kernel size asked for, larger as a user would)
  const int cases[][3] = {{17, 1, 23}, {21, 3, 25}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "shake " << c[0] << ", seed " << c[1]);
    const cv::Mat truth = velmora::tools::GenerateShakeKernel(c[0], c[1]);
    cv::Mat blurred = velmora::tools::BlurImage(sharp, truth, 0.005, c[1] + 100);
    blurred = cv::min(cv::max(blurred, 0.0), 1.0);
    std::vector<cv::Mat> planes;
    cv::split(blurred, planes);
    std::vector<float> input;
    for (int p = 2; p >= 0; --p) input.insert(input.end(), planes[p].begin<float>(), planes[p].end<float>());
    std::vector<float> output(input.size());
    cv::Mat kernel(c[2], c[2], CV_32F, cv::Scalar(0));
    int result = 0;
    velmora::testing_support::EngineLines([&] {
      result = DeblurImage(input.data(), output.data(), n, n, 3, kernel.ptr<float>(), c[2], c[2], 1.0f,
                           1.0f, 0.04f, 0, 0, true, nullptr);
    });
    ASSERT_EQ(result, 1);
    for (int p = 0; p < 3; ++p)
      cv::Mat(n, n, CV_32F, output.data() + velmora::GridSize(n, n) * p).copyTo(planes[2 - p]);
    cv::Mat restored;
    cv::merge(planes, restored);
    restored = cv::min(cv::max(restored, 0.0), 1.0);
    EXPECT_GE(velmora::tools::KernelSimilarity(kernel, truth), 0.6);
    EXPECT_GE(velmora::tools::BestShiftPsnr(restored, sharp, 4, c[2]),
              velmora::tools::BestShiftPsnr(blurred, sharp, 4, c[2]) + 2.0);
  }
}

}  // namespace
