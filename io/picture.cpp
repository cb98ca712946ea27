#include "io/picture.h"

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cctype>
#include <string>

#include "io/errors.h"

namespace velmora::io {

cv::Mat ReadPicture(const std::filesystem::path& path) {
  cv::Mat picture;
  try {
    picture = cv::imread(path.string(), cv::IMREAD_COLOR);
  } catch (const cv::Exception& e) {
    if (e.code == cv::Error::StsNoMem) throw BadFile("not enough memory to read the picture");
    picture.release();  // a corrupt file: the same answer as an unreadable one
  }
  if (picture.empty()) throw IoError(Problem::kBadInput, kOpenFailed);
  if (picture.rows < kSmallestPictureSide || picture.cols < kSmallestPictureSide)
    throw IoError(Problem::kBadInput, kPictureTooSmall);
  return picture;
}

std::vector<unsigned char> EncodePicture(const cv::Mat& picture, const std::string& extension) {
  std::string lower = extension;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  std::vector<int> parameters;
  if (lower == ".jpg" || lower == ".jpeg") parameters = {cv::IMWRITE_JPEG_QUALITY, 95};
  std::vector<unsigned char> bytes;
  bool encoded = false;
  try {
    encoded = cv::imencode(lower, picture, bytes, parameters);
  } catch (const cv::Exception& e) {
    throw BadFile("cannot encode the picture as " + lower + ": " + e.err);
  }
  if (!encoded || bytes.empty()) throw BadFile("cannot encode the picture as " + lower);
  return bytes;
}

}  // namespace velmora::io
