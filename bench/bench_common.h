// Shared set-up of the engine benchmarks.
#pragma once

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>

#include <utility>
#include <vector>

#include "pipeline/spectral.h"

namespace velmora::bench {

// The picture sizes of the whole-job benchmarks.
struct JobSize {
  int megapixels, rows, cols;
};
inline constexpr JobSize kJobSizes[] = {
    {1, 864, 1152}, {4, 1728, 2304}, {12, 2989, 3986}, {24, 4000, 5984}};

// A rows x cols colour photograph (a sample picture resized), planar RGB.
std::vector<float> PlanarPhoto(int rows, int cols);

// An 8-bit BGR photograph as planar RGB floats on the 0-1 scale, resized
// to rows x cols by interpolation (a cv::InterpolationFlags) when it differs.
std::vector<float> PlanarFrom(cv::Mat photo, int rows, int cols, int interpolation);

// A size x size shake kernel from the project's generator.
cv::Mat ShakeKernel(int size, uint64_t seed);

// planar (3 planes of rows x cols, in place) blurred by kernel with
// replicated borders, noise of sigma 0.005 from a fixed seed added, clamped
// to [0, 1].
void ShakePlanes(std::vector<float>& planar, int rows, int cols, const cv::Mat& kernel);

// Executes the logged transforms in order with the engine's plans, on
// arrays made beforehand, and returns the seconds the execution took: the
// floor the transform library sets for that work.
double ReplayTransforms(const std::vector<LoggedTransform>& log);

// Runs body once with the transform log on and returns the logged sizes.
template <typename Body>
std::vector<LoggedTransform> LogTransforms(Body body);

}  // namespace velmora::bench

template <typename Body>
std::vector<velmora::LoggedTransform> velmora::bench::LogTransforms(Body body) {
  std::vector<LoggedTransform> sizes;
  SetTransformLog(&sizes);
  body();
  SetTransformLog(nullptr);
  return sizes;
}
