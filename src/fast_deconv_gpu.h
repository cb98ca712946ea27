// The colour entries of the GPU solvers: a padded three-channel canvas in, the
// restored canvas out, with the ringing reduction of the CPU path done on
// the device's two solves.
#pragma once

#include <opencv2/core.hpp>

namespace velmora::gpu {

// inM: CV_32FC3 padded canvas; out: created with inM's size and type;
// kernel: single-channel float, odd sides. weight is the first solve's
// weight; when deringFactor > 1 a second solve with ringingWeight (the CPU
// path's second weight, formed by the caller) gives the median-filtered
// correction. Return the first solve's answer (always true). A wrong type
// raises cv::Exception; a device failure throws GpuFault.
bool FastDeconvTVL2Gpu(const cv::Mat& inM, cv::Mat& out, const cv::Mat& kernel, float weight,
                       int deringFactor, float ringingWeight);
bool FastDeconvTVL1Gpu(const cv::Mat& inM, cv::Mat& out, const cv::Mat& kernel, float weight,
                       int deringFactor, float ringingWeight);

// four: CV_32FC4 (three colours and 0), deconvolved in place.
bool RunTVL2Gpu(cv::Mat& four, const cv::Mat& kernel, float lambda);
bool RunTVL1Gpu(cv::Mat& four, const cv::Mat& kernel, float lambda);

// What the two colour entries share: the four-channel canvas, the solves,
// the ringing correction. solve is RunTVL2Gpu or RunTVL1Gpu.
using FourChannelSolve = bool (*)(cv::Mat& four, const cv::Mat& kernel, float lambda);
bool FastDeconvColourGpu(const cv::Mat& inM, cv::Mat& out, const cv::Mat& kernel, float weight,
                         int deringFactor, float ringingWeight, FourChannelSolve solve);

}  // namespace velmora::gpu
