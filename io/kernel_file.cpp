#include "io/kernel_file.h"

#include "pipeline/staged_write.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <system_error>

#include "io/errors.h"
#include "io/picture_header.h"

namespace velmora::io {

namespace {

cv::Mat Grey(const cv::Mat& picture, const std::string& name) {
  cv::Mat grey;
  switch (picture.channels()) {
    case 1:
      grey = picture;
      break;
    case 3:
      cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
      break;
    case 4:
      cv::cvtColor(picture, grey, cv::COLOR_BGRA2GRAY);
      break;
    default:
      throw BadFile("the kernel " + name + " has " + std::to_string(picture.channels()) +
                     " channels: expected a grey or colour picture");
  }
  return grey;
}

}  // namespace

cv::Mat KernelFromPicture(const cv::Mat& picture, const std::string& name) {
  if (picture.empty()) throw BadFile("the kernel " + name + " is empty");
  if (picture.rows % 2 == 0 || picture.cols % 2 == 0)
    throw BadFile("the kernel " + name + " is " + std::to_string(picture.cols) + "x" +
                   std::to_string(picture.rows) + " pixels: both sides must be odd");
  cv::Mat kernel;
  Grey(picture, name).convertTo(kernel, CV_32F);
  if (!cv::checkRange(kernel))
    throw BadFile("the kernel " + name + " holds values that are not finite numbers");
  kernel = cv::max(kernel, 0.0);
  const double sum = cv::sum(kernel)[0];
  if (!(sum > 0.0) || !std::isfinite(sum))
    throw BadFile("the kernel " + name + " is all zero (or negative): it has no blur to remove");
  kernel.convertTo(kernel, CV_32F, 1.0 / sum);
  return kernel;
}

cv::Mat LoadKernelFile(const std::filesystem::path& path) {
  std::string name(1, '\'');
  name += path.string();
  name += '\'';
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error))
    throw BadFile("cannot read the kernel " + name + ": no such file");
  if (!IsPictureFormat(path))
    throw BadFile("cannot read the kernel " + name + ": not a picture this program can decode");
  CheckDeclaredSize(path, "the kernel " + name);
  cv::Mat picture;
  try {
    picture = cv::imread(path.string(), cv::IMREAD_ANYDEPTH | cv::IMREAD_ANYCOLOR);
  } catch (const cv::Exception&) {
    picture.release();
  }
  if (picture.empty())
    throw BadFile("cannot read the kernel " + name + ": not a picture this program can decode");
  return KernelFromPicture(picture, name);
}

bool WriteKernelPicture(const cv::Mat& kernel, const std::string& path) {
  if (kernel.empty() || path.empty()) return false;
  double kmax = 0.0;
  cv::minMaxLoc(kernel, nullptr, &kmax);
  cv::Mat picture(kernel.size(), CV_8U, cv::Scalar(0));
  if (kmax > 0.0 && std::isfinite(kmax)) {
    const float top = static_cast<float>(kmax);
    for (int i = 0; i < kernel.rows; ++i)
      for (int j = 0; j < kernel.cols; ++j)
        picture.at<uchar>(i, j) = cv::saturate_cast<uchar>(kernel.at<float>(i, j) / top * 255.0f);
  }
  std::vector<unsigned char> bytes;
  try {
    if (!cv::imencode(std::filesystem::path(path).extension().string(), picture, bytes)) return false;
  } catch (const cv::Exception&) {
    return false;  // no encoder for the extension
  }
  return WriteStaged(path, bytes) == 0;
}

}  // namespace velmora::io
