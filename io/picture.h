// Reading the picture to deblur and encoding pictures for writing.
#pragma once

#include <opencv2/core.hpp>

#include <filesystem>
#include <string>
#include <vector>

#include "io/metadata.h"
#include "io/translatable.h"

namespace velmora::io {

inline constexpr int kSmallestPictureSide = 200;

// The application's texts, translated in the context "Picture".
inline constexpr const char* kOpenFailed = QT_TRANSLATE_NOOP("Picture", "Error while opening image file.");
inline constexpr const char* kPictureTooSmall = QT_TRANSLATE_NOOP(
    "Picture", "The image is too small.\n\nThis program only accept images larger than 200x200.");

// The picture as blue-green-red (a grey picture becomes three equal
// channels), turned upright by its EXIF orientation, at its own depth: 8 or
// 16 bits, or 32-bit float (a float TIFF, on the 0-1 scale). Refuses, with
// the desktop application's texts, a file that cannot be read and a picture
// with a side below 200 pixels; a float picture with NaN or infinite
// samples is refused too.
cv::Mat ReadPicture(const std::filesystem::path& path);

// The picture as ReadPicture gives it, with the metadata of its file.
// Metadata that cannot be parsed is left out and `metadataWarning` says
// why; the picture is read all the same.
struct LoadedPicture {
  cv::Mat pixels;
  PictureMetadata metadata;
  std::string metadataWarning;  // empty when nothing was left out
};
LoadedPicture ReadPictureWithMetadata(const std::filesystem::path& path);

// The picture encoded in the format of `extension` (".png", ".jpg", ".tif",
// ...): PNG and TIFF at 16 bits when the picture is deeper than 8 (TIFF
// keeps 32-bit floats as they are), JPEG and BMP at 8.
// Throws an IoError when the encoder refuses it.
std::vector<unsigned char> EncodePicture(const cv::Mat& picture, const std::string& extension);

}  // namespace velmora::io
