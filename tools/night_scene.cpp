#include "tools/night_scene.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <random>
#include <stdexcept>

#include "pipeline/highlights.h"
#include "tools/shake.h"

namespace velmora::tools {

namespace {

cv::Mat Apply(const cv::Mat& picture, void (*curve)(float*, size_t)) {
  if (picture.depth() != CV_32F) throw std::invalid_argument("the sRGB curve takes CV_32F pictures");
  cv::Mat out = picture.clone();  // continuous
  curve(out.ptr<float>(), out.total() * out.channels());
  return out;
}

// Adds a round lamp of the given peak and colour (BGR) centred at (x, y).
void AddLamp(cv::Mat& scene, double x, double y, double radius, double peak, const cv::Vec3f& colour) {
  const double sigma = radius / 2.0;
  const int reach = static_cast<int>(std::ceil(3.0 * sigma)) + 1;
  for (int i = std::max(0, static_cast<int>(y) - reach); i <= std::min(scene.rows - 1, static_cast<int>(y) + reach); ++i)
    for (int j = std::max(0, static_cast<int>(x) - reach); j <= std::min(scene.cols - 1, static_cast<int>(x) + reach); ++j) {
      const double d2 = (i - y) * (i - y) + (j - x) * (j - x);
      const float level = static_cast<float>(peak * std::exp(-d2 / (2.0 * sigma * sigma)));
      scene.at<cv::Vec3f>(i, j) += level * colour;
    }
}

}  // namespace

cv::Mat SrgbToLinear(const cv::Mat& coded) { return Apply(coded, velmora::SrgbToLinear); }
cv::Mat LinearToSrgb(const cv::Mat& linear) { return Apply(linear, velmora::LinearToSrgb); }

cv::Mat NightScene(const cv::Mat& day, uint64_t seed, const LampOptions& o) {
  if (day.empty() || day.type() != CV_32FC3) throw std::invalid_argument("NightScene needs a CV_32FC3 picture");
  cv::Mat scene = SrgbToLinear(day) * o.darken;
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double megapixels = static_cast<double>(day.total()) / 1e6;
  const int lamps = std::max(1, static_cast<int>(std::lround(o.lampsPerMegapixel * megapixels)));
  for (int n = 0; n < lamps; ++n) {
    const double x = unit(random) * (day.cols - 1), y = unit(random) * (day.rows - 1);
    const double radius = o.leastRadius + unit(random) * (o.mostRadius - o.leastRadius);
    // Gains spread evenly on a log scale: as many lamps at 2-4x as at 4-8x.
    const double peak = o.leastGain * std::pow(o.mostGain / o.leastGain, unit(random));
    // From a sodium lamp's orange to white (BGR).
    const float warmth = static_cast<float>(unit(random));
    const cv::Vec3f colour(1.0f - 0.6f * warmth, 1.0f - 0.25f * warmth, 1.0f);
    AddLamp(scene, x, y, radius, peak, colour);
  }
  return scene;
}

cv::Mat CameraRecord(const cv::Mat& scene, const cv::Mat& kernel, double noise, uint64_t seed) {
  const cv::Mat sensor = BlurImage(scene, kernel, 0.0, seed);
  const cv::Mat coded = LinearToSrgb(cv::min(cv::max(sensor, 0.0), 1.0));
  // The noise of the stored picture, as the other test pictures carry it;
  // rounding to 8 bits clips it again at both ends.
  const cv::Mat noisy = BlurImage(coded, cv::Mat::ones(1, 1, CV_32F), noise, seed);
  cv::Mat stored;
  noisy.convertTo(stored, CV_8U, 255.0);
  return stored;
}

cv::Mat SharpRecord(const cv::Mat& scene) {
  cv::Mat clipped = cv::min(cv::max(scene, 0.0), 1.0);
  return LinearToSrgb(clipped);
}

}  // namespace velmora::tools
