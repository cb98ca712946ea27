#include "io/picture.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cctype>
#include <string>

#include "io/errors.h"
#include "io/picture_header.h"

namespace velmora::io {

namespace {

// Turns the stored pixels upright by an EXIF orientation (1 to 8), as a
// viewer would show them.
void TurnUpright(cv::Mat& picture, int orientation) {
  if (orientation < 2 || orientation > 8) return;
  cv::Mat upright;  // the operations below cannot work in place on an oblong picture
  switch (orientation) {
    case 2: cv::flip(picture, upright, 1); break;
    case 3: cv::flip(picture, upright, -1); break;
    case 4: cv::flip(picture, upright, 0); break;
    case 5: cv::transpose(picture, upright); break;
    case 6: cv::rotate(picture, upright, cv::ROTATE_90_CLOCKWISE); break;
    case 7: cv::transpose(picture, upright); cv::flip(upright, upright, -1); break;
    case 8: cv::rotate(picture, upright, cv::ROTATE_90_COUNTERCLOCKWISE); break;
  }
  picture = upright;
}

cv::Mat DecodePicture(const std::filesystem::path& path) {
  if (!IsPictureFormat(path)) throw IoError(Problem::kBadInput, kOpenFailed);
  CheckDeclaredSize(path, "the picture '" + path.string() + "'");
  cv::Mat picture;
  try {
    picture = cv::imread(path.string(), cv::IMREAD_COLOR | cv::IMREAD_ANYDEPTH);
  } catch (const cv::Exception& e) {
    if (e.code == cv::Error::StsNoMem) throw BadFile("not enough memory to read the picture");
    picture.release();  // a corrupt file: the same answer as an unreadable one
  }
  if (picture.empty()) throw IoError(Problem::kBadInput, kOpenFailed);
  // 8 and 16 bits are kept; other integer depths are read as 16 bits, and
  // float pictures must hold finite samples.
  if (picture.depth() == CV_16S || picture.depth() == CV_32S) picture.convertTo(picture, CV_16U);
  if (picture.depth() == CV_64F) picture.convertTo(picture, CV_32F);
  if (picture.depth() == CV_32F && !cv::checkRange(picture))
    throw BadFile("the picture '" + path.string() + "' holds samples that are not finite numbers (NaN or infinity)");
  if (picture.rows < kSmallestPictureSide || picture.cols < kSmallestPictureSide)
    throw IoError(Problem::kBadInput, kPictureTooSmall);
  return picture;
}

}  // namespace

LoadedPicture ReadPictureWithMetadata(const std::filesystem::path& path) {
  LoadedPicture loaded;
  loaded.pixels = DecodePicture(path);
  loaded.metadata = PictureMetadata::Read(path, &loaded.metadataWarning);
  // The decoder turns JPEG and TIFF pictures upright itself; the others
  // are turned here, so that every picture is upright when restored.
  if (!loaded.metadata.turnedByDecoder()) TurnUpright(loaded.pixels, loaded.metadata.orientation());
  return loaded;
}

cv::Mat ReadPicture(const std::filesystem::path& path) { return ReadPictureWithMetadata(path).pixels; }

std::vector<unsigned char> EncodePicture(const cv::Mat& picture, const std::string& extension) {
  std::string lower = extension;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  std::vector<int> parameters;
  if (lower == ".jpg" || lower == ".jpeg") parameters = {cv::IMWRITE_JPEG_QUALITY, 95};
  // PNG and TIFF hold 16 bits, TIFF floats too; JPEG and BMP take 8.
  const bool tiff = lower == ".tif" || lower == ".tiff";
  const bool deep = tiff || lower == ".png";
  cv::Mat stored = picture;
  if (!deep && picture.depth() == CV_16U) picture.convertTo(stored, CV_8U, 1.0 / 257.0);
  if (!tiff && picture.depth() == CV_32F) picture.convertTo(stored, deep ? CV_16U : CV_8U, deep ? 65535.0 : 255.0);
  std::vector<unsigned char> bytes;
  bool encoded = false;
  try {
    encoded = cv::imencode(lower, stored, bytes, parameters);
  } catch (const cv::Exception& e) {
    throw BadFile("cannot encode the picture as " + lower + ": " + e.err);
  }
  if (!encoded || bytes.empty()) throw BadFile("cannot encode the picture as " + lower);
  return bytes;
}

}  // namespace velmora::io
