#include "bench/bench_common.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <chrono>
#include <map>
#include <stdexcept>
#include <tuple>

#include "tools/shake.h"

namespace velmora::bench {

std::vector<float> PlanarPhoto(int rows, int cols) {
  const cv::Mat photo = cv::imread(VELMORA_SOURCE_DIR "/samples/coffee.png", cv::IMREAD_COLOR);
  if (photo.empty()) throw std::runtime_error("samples/coffee.png is missing");
  return PlanarFrom(photo, rows, cols, cv::INTER_CUBIC);
}

std::vector<float> PlanarFrom(cv::Mat photo, int rows, int cols, int interpolation) {
  if (photo.rows != rows || photo.cols != cols)
    cv::resize(photo, photo, cv::Size(cols, rows), 0, 0, interpolation);
  photo.convertTo(photo, CV_32F, 1.0 / 255);
  std::vector<cv::Mat> ch;
  cv::split(photo, ch);
  std::vector<float> planar;
  for (int c = 2; c >= 0; --c) planar.insert(planar.end(), ch[c].begin<float>(), ch[c].end<float>());
  return planar;
}

cv::Mat ShakeKernel(int size, uint64_t seed) { return tools::GenerateShakeKernel(size, seed); }

void ShakePlanes(std::vector<float>& planar, int rows, int cols, const cv::Mat& kernel) {
  cv::Mat flipped;
  cv::flip(kernel, flipped, -1);  // filter2D correlates
  cv::RNG rng(11);
  for (int c = 0; c < 3; ++c) {
    cv::Mat plane(rows, cols, CV_32F, planar.data() + GridSize(rows, cols) * c);
    cv::Mat blurred, noise(plane.size(), CV_32F);
    cv::filter2D(plane, blurred, CV_32F, flipped, cv::Point(-1, -1), 0.0, cv::BORDER_REPLICATE);
    rng.fill(noise, cv::RNG::NORMAL, 0.0, 0.005);
    blurred += noise;
    cv::min(cv::max(blurred, 0.0), 1.0, plane);
  }
}

double ReplayTransforms(const std::vector<LoggedTransform>& log) {
  using Key = std::tuple<int, int, bool, bool>;
  std::map<Key, std::pair<ComplexArray, ComplexArray>> arrays;
  for (const LoggedTransform& t : log) {
    auto& a = arrays[{t.rows, t.cols, t.real, t.inverse}];
    if (a.first.get()) continue;
    const size_t n = GridSize(t.rows, t.cols);
    a.first = ComplexArray(n);
    a.second = ComplexArray(n);
    a.first.zero();
    a.second.zero();
  }
  const auto start = std::chrono::steady_clock::now();
  for (const LoggedTransform& t : log) {
    auto& a = arrays[{t.rows, t.cols, t.real, t.inverse}];
    if (!t.real)
      Fft2d(a.first.get(), a.second.get(), t.rows, t.cols, t.inverse ? FFTW_BACKWARD : FFTW_FORWARD);
    else if (t.inverse)
      InverseRealFft2d(a.first.get(), reinterpret_cast<float*>(a.second.get()), t.rows, t.cols);
    else
      RealFft2d(reinterpret_cast<float*>(a.first.get()), a.second.get(), t.rows, t.cols);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace velmora::bench
