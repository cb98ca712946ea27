// The built-in case the GPU must agree on before it runs a job: a seeded
// 256 x 256 colour picture blurred by a 15 x 15 shake, padded, solved once
// with TV-L2 and taken through the estimation steps of one level.
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <vector>

#include "pipeline/numerics.h"
#include "engine/gpu_choice.h"
#include "estimation/estimators.h"

namespace velmora {

namespace {

constexpr int kSide = 256;
constexpr int kKernelSide = 15;
constexpr float kWeight = 0.0004f;  // the default smoothness's TV-L2 weight

// A diagonal stroke with a bend, normalised: a plausible hand shake.
cv::Mat ShakeKernel() {
  cv::Mat k(kKernelSide, kKernelSide, CV_32F, cv::Scalar(0));
  cv::line(k, {2, 4}, {8, 9}, cv::Scalar(1.0), 1, cv::LINE_AA);
  cv::line(k, {8, 9}, {12, 8}, cv::Scalar(0.6), 1, cv::LINE_AA);
  cv::GaussianBlur(k, k, {3, 3}, 0.6);
  return k / cv::sum(k)[0];
}

// Edges, corners, flat areas and texture in three colours, from a fixed
// seed, blurred by kernel; planar red, green, blue.
std::vector<float> BlurredPicture(const cv::Mat& kernel) {
  cv::Mat picture(kSide, kSide, CV_32FC3, cv::Scalar(0.3, 0.5, 0.4));
  cv::RNG rng(0x5eed);
  for (int i = 0; i < 24; ++i) {
    const cv::Scalar colour(rng.uniform(0.05, 0.95), rng.uniform(0.05, 0.95), rng.uniform(0.05, 0.95));
    const cv::Point a(rng.uniform(0, kSide), rng.uniform(0, kSide));
    if (i % 2)
      cv::circle(picture, a, rng.uniform(6, 40), colour, cv::FILLED);
    else
      cv::rectangle(picture, a, a + cv::Point(rng.uniform(8, 60), rng.uniform(8, 60)), colour, cv::FILLED);
  }
  cv::Mat noise(picture.size(), CV_32FC3);
  rng.fill(noise, cv::RNG::NORMAL, 0.0, 0.01);
  picture += noise;
  cv::filter2D(picture, picture, -1, kernel, {-1, -1}, 0, cv::BORDER_REPLICATE);
  std::vector<cv::Mat> channels;
  cv::split(picture, channels);
  std::vector<float> planar;
  for (const cv::Mat& c : channels) planar.insert(planar.end(), c.begin<float>(), c.end<float>());
  return planar;
}

bool PaddingAgrees(const std::vector<float>& picture, const cv::Mat& kernel, int padSide,
                   std::vector<float>* canvas) {
  const size_t n = static_cast<size_t>(padSide) * padSide * 3;
  canvas->assign(n, 0.0f);
  std::vector<float> onGpu(n, 0.0f);
  PadImage(picture.data(), canvas->data(), kernel.ptr<float>(), kSide, kSide, 3, kKernelSide,
           kKernelSide, padSide, padSide, true);
  PadImage(picture.data(), onGpu.data(), kernel.ptr<float>(), kSide, kSide, 3, kKernelSide,
           kKernelSide, padSide, padSide, false);
  return RelativeError(onGpu.data(), canvas->data(), n) <= kPaddingBound;
}

bool SolveAgrees(const std::vector<float>& canvas, const cv::Mat& kernel, int padSide) {
  const size_t plane = static_cast<size_t>(padSide) * padSide;
  std::vector<float> onCpu(plane * 3);
  for (int c = 0; c < 3; ++c)
    FastDeconvTVL2(canvas.data() + plane * c, onCpu.data() + plane * c, kernel.ptr<float>(), padSide,
                   padSide, kKernelSide, kKernelSide, kWeight);
  cv::Mat four(padSide, padSide, CV_32FC4);
  for (size_t i = 0; i < plane; ++i) {
    float* pixel = four.ptr<float>() + 4 * i;
    for (int c = 0; c < 3; ++c) pixel[c] = canvas[plane * c + i];
    pixel[3] = 0.0f;
  }
  gpu::RunTVL2Gpu(four, kernel, kWeight);
  std::vector<float> onGpu(plane * 3);
  for (size_t i = 0; i < plane; ++i)
    for (int c = 0; c < 3; ++c) onGpu[plane * c + i] = four.ptr<float>()[4 * i + c];
  return RelativeError(onGpu.data(), onCpu.data(), plane * 3) <= kSolveBound;
}

}  // namespace

std::vector<std::string> CompareGpuWithCpu() {
  const cv::Mat kernel = ShakeKernel();
  const std::vector<float> picture = BlurredPicture(kernel);
  const int padSide = CanvasSide(kSide, kKernelSide);
  std::vector<std::string> disagreeing;
  std::vector<float> canvas;
  if (!PaddingAgrees(picture, kernel, padSide, &canvas)) disagreeing.push_back("padding");
  if (!SolveAgrees(canvas, kernel, padSide)) disagreeing.push_back("the TV-L2 solve");
  for (const std::string& step : CompareEstimationSteps(picture.data(), kSide, kSide, kernel))
    disagreeing.push_back(step);
  return disagreeing;
}

}  // namespace velmora
