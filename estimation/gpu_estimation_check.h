// The estimation part of the GPU self-check: each GPU step of one level
// against its CPU gold routine, on the same inputs, within kEstimationBound
// (pipeline/gpu_agreement.h).
#pragma once

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace velmora {

// The shock filter, the kernel solve and the latent update of one level of
// picture (planar red, green, blue, rows x cols, read only) on both paths,
// kernel being the picture's blur. Returns the names of the steps that
// disagree (empty when all agree). A device fault propagates as GpuFault.
std::vector<std::string> CompareEstimationSteps(const float* picture, int rows, int cols,
                                                const cv::Mat& kernel);

}  // namespace velmora
