// Image and kernel comparison for tests and the quality benchmark. Pictures
// are CV_32F (1 or 3 channels) on the [0, 1] scale.
#pragma once

#include <opencv2/core.hpp>

namespace velmora::tools {

// Sum of squared errors over all channels, a border of `border` pixels left
// out on every side.
double SumSquaredError(const cv::Mat& a, const cv::Mat& b, int border);

// PSNR in dB (peak 1) over the same interior.
double Psnr(const cv::Mat& a, const cv::Mat& b, int border);

// The smallest sum of squared errors of `test` against `reference` over
// integer shifts of test by at most maxShift pixels in each direction; the
// compared interior is the same for every shift (border + maxShift).
double BestShiftSumSquaredError(const cv::Mat& test, const cv::Mat& reference, int maxShift,
                                int border);
double BestShiftPsnr(const cv::Mat& test, const cv::Mat& reference, int maxShift, int border);

// The largest normalised cross-correlation of two kernels (CV_32F, any odd
// sizes) over all relative shifts, zero-padded; 1 for identical kernels.
double KernelSimilarity(const cv::Mat& estimate, const cv::Mat& truth);

// A kernel's extent about its centre cell, as a blur size: 2 d + 1 rows
// (columns), d the farthest row (column) offset from the centre of a tap
// at or above share of the largest (CV_32F, odd sides). The size a job
// needs to hold the blur.
cv::Size KernelExtent(const cv::Mat& kernel, double share);

}  // namespace velmora::tools
