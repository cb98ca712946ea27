// Night-like test scenes: a daylight photograph taken to linear light,
// darkened, with small lamps far brighter than a sensor records, and what a
// camera stores of it after a shake: the blur in linear light, noise, the
// clipping at the sensor's maximum and the sRGB curve at 8 bits.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>

namespace velmora::tools {

// The sRGB transfer curve and its inverse, element-wise on CV_32F pictures
// of any channel count. Values above 1 follow the curve's power law, so a
// lamp keeps its brightness through both.
cv::Mat SrgbToLinear(const cv::Mat& coded);
cv::Mat LinearToSrgb(const cv::Mat& linear);

struct LampOptions {
  double darken = 0.3;             // the scene's light against the day's, (0, 1]
  double lampsPerMegapixel = 30.0; // how many lamps, at least one
  double leastGain = 2.0;          // a lamp's peak, in times the sensor's maximum
  double mostGain = 8.0;
  double leastRadius = 1.0;        // a lamp's radius in pixels (its Gaussian's 2 sigma)
  double mostRadius = 3.0;
};

// day: CV_32FC3 BGR, sRGB-coded on the 0-1 scale. Returns the scene in
// linear light (CV_32FC3, the lamps above 1). The same seed gives the same
// lamps.
cv::Mat NightScene(const cv::Mat& day, uint64_t seed, const LampOptions& options = {});

// scene: linear light, CV_32FC3. The scene blurred by kernel (odd sides,
// borders replicated), clipped to [0, 1], coded with the sRGB curve, with
// Gaussian noise of sigma noise added to the coded values and stored at 8
// bits: CV_8UC3.
cv::Mat CameraRecord(const cv::Mat& scene, const cv::Mat& kernel, double noise, uint64_t seed);

// What the camera stores of the scene without a shake: clipped and coded,
// CV_32FC3 on the 0-1 scale (the reference a restored picture is scored
// against).
cv::Mat SharpRecord(const cv::Mat& scene);

}  // namespace velmora::tools
