// The seeded cases whose results are kept as golden files: the pictures the
// engine must keep giving while its inner workings change. Shared by the
// program that wrote the files and by the test that compares against them.
#pragma once

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace velmora::golden {

struct Case {
  std::string name;
  bool blind;
  int kernelSize;  // the blur's side; blind cases estimate a kernel this size
  float smoothness;
  int reduceRinging, reduceNoise;
  float gamma;
};

// Non-blind cases deconvolve with the true kernel; blind ones estimate it.
inline const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"known_l2", false, 15, 0.04f, 0, 0, 1.0f},
      {"known_l2_dering", false, 15, 0.04f, 1, 0, 1.0f},
      {"known_l1", false, 15, 0.04f, 0, 1, 1.0f},
      {"blind_l2", true, 15, 0.04f, 0, 0, 1.0f},
      {"blind_l1_dering_gamma", true, 15, 0.06f, 1, 1, 2.2f},
  };
  return cases;
}

// 8-bit BGR pictures to and from the engine's planar red, green, blue
// floats on the 0-1 scale, as the worker thread converts them.
std::vector<float> ToPlanar(const cv::Mat& bgr);
cv::Mat FromPlanar(const std::vector<float>& planar, int rows, int cols);

// Runs one case on the engine: blurred is 8-bit BGR; kernel is the true
// kernel for non-blind cases and receives the estimate for blind ones.
// Returns the 8-bit BGR result.
cv::Mat RunCase(const Case& c, const cv::Mat& blurred, cv::Mat& kernel);

}  // namespace velmora::golden
