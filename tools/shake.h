// Synthetic camera shake for tests and benchmarks: a seeded random trajectory
// of a hand-held camera rasterised into a blur kernel, and the blur itself.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>

namespace velmora::tools {

// The kinds of camera motion the generator draws.
enum class ShakeKind {
  kHandHeld,  // a jittery random walk with now and then a jerk: compact paths
  kSweep,     // a long, thin, smoothly curving sweep whose speed varies, so
              // parts of it are faint
};

// A size x size kernel (size odd, at least 3), CV_32F, non-negative, summing
// to 1, its mass roughly centred. The same seed and kind always give the
// same kernel.
cv::Mat GenerateShakeKernel(int size, uint64_t seed, ShakeKind kind = ShakeKind::kHandHeld);

// Convolves image (CV_32F, 1 or 3 channels, values in [0, 1]) with kernel
// (odd sides, natural orientation: a single tap at (r, c) moves the picture
// by (r - rows / 2, c - cols / 2)), borders replicated, then adds Gaussian
// noise of standard deviation noiseSigma drawn from seed. Not clamped.
cv::Mat BlurImage(const cv::Mat& image, const cv::Mat& kernel, double noiseSigma, uint64_t seed);

}  // namespace velmora::tools
