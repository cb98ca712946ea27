// Highlights the sensor clipped. A sample recorded at the sensor's maximum
// says only "at least this bright": a lamp four times brighter than the
// maximum, blurred, leaves a flat streak at the maximum, and the model
// blurred = kernel * sharp does not hold there. With the clipping modelled,
// the restore asks of a clipped sample only that the blurred latent picture
// reach it (the latent picture may be brighter than the maximum, and is
// clipped only when written), and the estimators leave the clipped samples
// and what the blur carried from them out of their steps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "velmora/vocabulary.h"

namespace velmora {


// Samples at or above this level (on the 0-1 scale) count as clipped: an
// 8-bit 252 and above, which takes in what a JPEG coder leaves of a flat
// clipped patch.
inline constexpr float kClipLevel = 251.5f / 255.0f;

// Pixels with a clipped sample a picture needs before it counts as having
// clipped highlights: a few stray samples at the maximum are no lamp.
inline constexpr int kLeastClippedPixels = 16;

// The largest clipped patch, as a share of the picture, that counts as a
// lamp (or its streak) rather than a blown sky or a bright wall.
inline constexpr double kLargestLampShare = 0.001;
inline constexpr int kLargestLampLeast = 400;  // pixels, on small pictures

// Lamps are lamps in the dark: the mean brightest sample in a ring around
// the clipped patches, from half a reach to a reach away (a share of the
// picture's longer side, beyond most streaks), must stay below this.
inline constexpr double kLampSurroundShare = 0.03;
inline constexpr int kLampSurroundLeast = 12;
inline constexpr double kLampSurroundMost = 0.3;

// Whether the model applies to a planar picture (rows x cols x channels):
// kModel and ShowsClippedHighlights. Everything else is restored exactly
// as without it.
bool ModelsHighlights(Highlights highlights, const float* planes, int rows, int cols, int channels);

// Whether picture (BGR or grey; 8 bits, 16 bits or float on the 0-1 scale)
// has clipped lamps: at least kLeastClippedPixels pixels with a sample at or
// above kClipLevel, in patches no larger than a lamp's streak, more of them
// than in larger clipped patches, and dark around them. A picture whose
// clipping is a sky, glints on water or a sunlit wall is left as it is:
// the model is meant for light far brighter than the sensor's maximum in a
// dark scene.
bool ShowsClippedHighlights(const cv::Mat& picture);

// The indices (row-major, into a plane of planeCols columns) of the clipped
// samples of a rows x cols picture plane placed at (top, left) of that
// plane.
std::vector<size_t> ClippedIndices(const float* picture, int rows, int cols, int planeCols, int top,
                                     int left);

// The sRGB transfer curve, coded to linear light and back, on the 0-1
// scale. Values above 1 follow the curve's power law: a lamp brighter than
// the maximum stays brighter through both.
float SrgbToLinear(float coded);
float LinearToSrgb(float linear);
// The same over count samples in place.
void SrgbToLinear(float* samples, size_t count);
void LinearToSrgb(float* samples, size_t count);

// The picture the kernel estimators work on: with the model in effect
// (ModelsHighlights), a copy of planes in linear light, where a blur is a
// sum of light and a lamp's streak is the kernel's own picture; else planes
// itself, not copied.
class EstimationPicture {
 public:
  EstimationPicture(const float* planes, int rows, int cols, int channels, Highlights highlights);
  const float* planes() const { return linear_.empty() ? planes_ : linear_.data(); }
  bool linear() const { return !linear_.empty(); }
  // The estimation's gamma: a picture in linear light is not raised again.
  float Gamma(float gamma) const { return linear() ? 1.0f : gamma; }

 private:
  const float* planes_;
  std::vector<float> linear_;
};

}  // namespace velmora
