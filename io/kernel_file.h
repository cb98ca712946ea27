// Reading a known blur kernel from a picture file for non-blind deblurring.
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

}  // namespace velmora::io
