// Reading the picture to deblur and encoding pictures for writing.
#pragma once

#include <opencv2/core.hpp>

#include <filesystem>
#include <vector>

#include "io/translatable.h"

namespace velmora::io {

inline constexpr int kSmallestPictureSide = 200;

// The application's texts, translated in the context "Picture".
inline constexpr const char* kOpenFailed = QT_TRANSLATE_NOOP("Picture", "Error while opening image file.");
inline constexpr const char* kPictureTooSmall = QT_TRANSLATE_NOOP(
    "Picture", "The image is too small.\n\nThis program only accept images larger than 200x200.");

// The picture as 8-bit blue-green-red (a grey picture becomes three equal
// channels). Refuses, with the desktop application's texts, a file that
// cannot be read and a picture with a side below 200 pixels.
cv::Mat ReadPicture(const std::filesystem::path& path);

// The picture encoded in the format of `extension` (".png", ".jpg", ...).
// Throws an IoError when the encoder refuses it.
std::vector<unsigned char> EncodePicture(const cv::Mat& picture, const std::string& extension);

}  // namespace velmora::io
