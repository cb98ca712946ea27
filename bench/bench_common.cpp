#include "bench/bench_common.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <stdexcept>

#include "tools/shake.h"

namespace velmora::bench {

std::vector<float> PlanarPhoto(int rows, int cols) {
  cv::Mat photo = cv::imread(VELMORA_SOURCE_DIR "/samples/coffee.png", cv::IMREAD_COLOR);
  if (photo.empty()) throw std::runtime_error("samples/coffee.png is missing");
  cv::resize(photo, photo, cv::Size(cols, rows), 0, 0, cv::INTER_CUBIC);
  photo.convertTo(photo, CV_32F, 1.0 / 255);
  std::vector<cv::Mat> ch;
  cv::split(photo, ch);
  std::vector<float> planar;
  for (int c = 2; c >= 0; --c) planar.insert(planar.end(), ch[c].begin<float>(), ch[c].end<float>());
  return planar;
}

cv::Mat ShakeKernel(int size, uint64_t seed) { return tools::GenerateShakeKernel(size, seed); }

void ReplayTransforms(const std::vector<LoggedTransform>& log) {
  for (const LoggedTransform& t : log) {
    const size_t n = GridSize(t.rows, t.cols);
    ComplexArray in(n), out(n);
    in.zero();
    if (t.real)
      RealFft2d(reinterpret_cast<float*>(in.get()), out.get(), t.rows, t.cols);
    else
      Fft2d(in.get(), out.get(), t.rows, t.cols, FFTW_FORWARD);
    benchmark::DoNotOptimize(out.get());
  }
}

}  // namespace velmora::bench
