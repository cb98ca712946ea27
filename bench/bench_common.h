// Shared set-up of the engine benchmarks.
#pragma once

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>

#include <utility>
#include <vector>

#include "pipeline/spectral.h"

namespace velmora::bench {

// A rows x cols colour photograph (a sample picture resized), planar RGB.
std::vector<float> PlanarPhoto(int rows, int cols);

// A size x size shake kernel from the project's generator.
cv::Mat ShakeKernel(int size, uint64_t seed);

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
