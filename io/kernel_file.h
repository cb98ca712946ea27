// Kernel pictures: reading a known blur kernel from a picture file for
// non-blind deblurring, and writing an estimated one for the user to see.
#pragma once

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>

namespace velmora::io {

// Any picture OpenCV reads: 8- or 16-bit PNG, BMP or TIFF, or 32-bit float
// TIFF; a colour picture is made grey. Returns a CV_32F kernel with odd
// sides, negative entries set to 0, summing to 1. Throws a CliError naming
// the problem for an unreadable file, an even side, a value that is not
// finite or an all-zero kernel.
cv::Mat LoadKernelFile(const std::filesystem::path& path);

// The same rules applied to a picture already in memory (1, 3 or 4
// channels, any depth); `name` is used in the messages.
cv::Mat KernelFromPicture(const cv::Mat& picture, const std::string& name);

// Writes kernel (CV_32F) scaled by its maximum to 255 as an 8-bit grey
// picture, in the format path's extension names (kernel.png), whole or not
// at all. Returns false when the kernel is empty or the file cannot be
// written; the front ends show the kernel anyway, so a failed write is not
// the job's failure.
bool WriteKernelPicture(const cv::Mat& kernel, const std::string& path);

}  // namespace velmora::io
