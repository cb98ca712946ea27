// Writes the golden files: for every case the blurred input, its true
// kernel and the engine's result (and, for blind cases, the estimated
// kernel). Run once with the engine whose results are to be kept:
//   make_golden SAMPLES_FOLDER OUTPUT_FOLDER
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <string>

#include "tests/golden/golden_cases.h"
#include "tools/shake.h"

using namespace velmora;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_golden SAMPLES_FOLDER OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string samples = argv[1], out = std::string(argv[2]) + "/";
  const cv::Mat photo = cv::imread(samples + "/chelsea.png", cv::IMREAD_COLOR);
  if (photo.empty()) return 1;
  // A 260 x 340 crop of the face, with fur, whiskers and eyes.
  const cv::Mat sharp = photo(cv::Rect(60, 20, 340, 260)).clone();
  int seed = 3;
  for (const golden::Case& c : golden::Cases()) {
    const cv::Mat kernel = tools::GenerateShakeKernel(c.kernelSize, seed);
    cv::Mat unit, blurred;
    sharp.convertTo(unit, CV_32FC3, 1.0 / 255.0);
    tools::BlurImage(unit, kernel, 0.004, seed).convertTo(blurred, CV_8UC3, 255.0);
    ++seed;
    cv::Mat used = kernel.clone();
    const cv::Mat result = golden::RunCase(c, blurred, used);
    cv::imwrite(out + c.name + "_input.png", blurred);
    cv::imwrite(out + c.name + "_kernel.tiff", kernel);
    cv::imwrite(out + c.name + "_result.png", result);
    if (c.blind) cv::imwrite(out + c.name + "_estimate.tiff", used);
    std::printf("%s\n", c.name.c_str());
  }
  return 0;
}
