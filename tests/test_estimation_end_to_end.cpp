// Blind deblurring of a photograph blurred by a generated camera shake: the
// estimated kernel must resemble the true one and the restored picture must
// be clearly closer to the sharp one than the blurred picture is.
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <string>
#include <vector>

#include "pipeline/engine.h"
#include "pipeline/spectral.h"
#include "tools/metrics.h"
#include "tools/shake.h"

namespace {

constexpr int kSide = 256;

// A kSide x kSide crop of a sample photograph, float BGR on [0, 1].
cv::Mat SamplePhoto(const std::string& name, int row0, int col0) {
  const cv::Mat picture = cv::imread(std::string(VELMORA_SOURCE_DIR) + "/samples/" + name,
                                     cv::IMREAD_COLOR);
  if (picture.empty()) return picture;
  cv::Mat crop;
  picture(cv::Rect(col0, row0, kSide, kSide)).convertTo(crop, CV_32F, 1.0 / 255.0);
  return crop;
}

std::vector<float> ToPlanar(const cv::Mat& bgr) {
  std::vector<cv::Mat> channels;
  cv::split(bgr, channels);
  std::vector<float> planar;
  for (int c = 2; c >= 0; --c) planar.insert(planar.end(), channels[c].begin<float>(), channels[c].end<float>());
  return planar;
}

cv::Mat FromPlanar(const std::vector<float>& planar, int rows, int cols) {
  std::vector<cv::Mat> channels(3);
  for (int c = 0; c < 3; ++c)
    channels[2 - c] = cv::Mat(rows, cols, CV_32F,
                              const_cast<float*>(planar.data()) + velmora::GridSize(rows, cols) * c)
                          .clone();
  cv::Mat bgr;
  cv::merge(channels, bgr);
  return bgr;
}

struct Outcome {
  int result = -100;
  double similarity = 0.0, blurredPsnr = 0.0, restoredPsnr = 0.0;
};

Outcome BlindCase(const cv::Mat& sharp, int trueSize, uint64_t seed, int kernelSize) {
  const cv::Mat truth = velmora::tools::GenerateShakeKernel(trueSize, seed);
  cv::Mat blurred = velmora::tools::BlurImage(sharp, truth, 0.005, seed + 100);
  blurred = cv::min(cv::max(blurred, 0.0), 1.0);
  const std::vector<float> input = ToPlanar(blurred);
  std::vector<float> output(input.size(), 0.0f);
  cv::Mat kernel(kernelSize, kernelSize, CV_32F, cv::Scalar(0));
  Outcome o;
  o.result = DeblurImage(input.data(), output.data(), kSide, kSide, 3, kernel.ptr<float>(),
                         kernelSize, kernelSize, 1.0f, 1.0f, 0.04f, 0, 0, true, nullptr);
  o.similarity = velmora::tools::KernelSimilarity(kernel, truth);
  const cv::Mat restored = cv::min(cv::max(FromPlanar(output, kSide, kSide), 0.0), 1.0);
  o.blurredPsnr = velmora::tools::BestShiftPsnr(blurred, sharp, 4, kernelSize);
  o.restoredPsnr = velmora::tools::BestShiftPsnr(restored, sharp, 4, kernelSize);
  return o;
}

TEST(EstimationEndToEnd, RecoversGeneratedShake) {
  const cv::Mat sharp = SamplePhoto("chelsea.png", 20, 100);
  ASSERT_FALSE(sharp.empty());
  // (true kernel side, seed, kernel size asked for): the size asked for is
  // larger than the blur, as a user would choose it.
  const int cases[][3] = {{17, 1, 23}, {21, 3, 25}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "shake " << c[0] << ", seed " << c[1]);
    const Outcome o = BlindCase(sharp, c[0], static_cast<uint64_t>(c[1]), c[2]);
    ASSERT_EQ(o.result, 1);
    EXPECT_GE(o.similarity, 0.6);
    EXPECT_GE(o.restoredPsnr, o.blurredPsnr + 2.0);
  }
}

}  // namespace
