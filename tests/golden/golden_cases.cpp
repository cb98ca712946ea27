#include "tests/golden/golden_cases.h"

#include "pipeline/engine.h"

namespace velmora::golden {

std::vector<float> ToPlanar(const cv::Mat& bgr) {
  const size_t plane = static_cast<size_t>(bgr.rows) * bgr.cols;
  std::vector<float> planar(plane * 3);
  for (int i = 0; i < bgr.rows; ++i)
    for (int j = 0; j < bgr.cols; ++j)
      for (int k = 0; k < 3; ++k)
        planar[plane * k + static_cast<size_t>(i) * bgr.cols + j] =
            bgr.at<cv::Vec3b>(i, j)[2 - k] * (1.0f / 255.0f);
  return planar;
}

cv::Mat FromPlanar(const std::vector<float>& planar, int rows, int cols) {
  const size_t plane = static_cast<size_t>(rows) * cols;
  cv::Mat bgr(rows, cols, CV_8UC3);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      for (int k = 0; k < 3; ++k)
        bgr.at<cv::Vec3b>(i, j)[2 - k] =
            cv::saturate_cast<uchar>(planar[plane * k + static_cast<size_t>(i) * cols + j] * 255.0f);
  return bgr;
}

cv::Mat RunCase(const Case& c, const cv::Mat& blurred, cv::Mat& kernel) {
  const std::vector<float> input = ToPlanar(blurred);
  std::vector<float> output(input.size());
  if (c.blind) {
    kernel = cv::Mat(c.kernelSize, c.kernelSize, CV_32F, cv::Scalar(0));
    DeblurImage(input.data(), output.data(), blurred.rows, blurred.cols, 3, kernel.ptr<float>(),
                c.kernelSize, c.kernelSize, c.gamma, 1.0f, c.smoothness, c.reduceRinging,
                c.reduceNoise, true, nullptr);
  } else {
    DeblurWithKernel(input.data(), output.data(), kernel.ptr<float>(), blurred.rows, blurred.cols,
                     3, kernel.rows, kernel.cols, c.smoothness, c.reduceRinging, c.reduceNoise,
                     true, nullptr);
  }
  return FromPlanar(output, blurred.rows, blurred.cols);
}

}  // namespace velmora::golden
