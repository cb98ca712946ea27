// The picture reader on any bytes: every format and depth OpenCV decodes,
// the declared size checked first, the metadata read, and that metadata
// written into each format a result can take.
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>

#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "io/errors.h"
#include "io/metadata.h"
#include "io/picture.h"

namespace {

// A small picture encoded in each format that holds metadata.
const std::vector<std::pair<std::string, std::vector<unsigned char>>>& Encodings() {
  static const auto encodings = [] {
    std::vector<std::pair<std::string, std::vector<unsigned char>>> list;
    const cv::Mat picture(8, 8, CV_8UC3, cv::Scalar(30, 120, 210));
    for (const char* format : {".jpg", ".png", ".tif"}) list.emplace_back(format, velmora::io::EncodePicture(picture, format));
    return list;
  }();
  return encodings;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path& file = velmora::fuzz::ScratchFile(data, size);
  std::string warning;
  const velmora::io::PictureMetadata metadata = velmora::io::PictureMetadata::Read(file, &warning);
  for (const auto& [format, bytes] : Encodings()) (void)metadata.AddTo(bytes, format, &warning);
  try {
    const velmora::io::LoadedPicture loaded = velmora::io::ReadPictureWithMetadata(file);
    // What the reader promises: upright, three channels, a depth the job takes.
    const int depth = loaded.pixels.depth();
    if (loaded.pixels.channels() != 3 || (depth != CV_8U && depth != CV_16U && depth != CV_32F)) __builtin_trap();
  } catch (const velmora::io::IoError&) {
    // refused with a message: what bad bytes should get
  }
  return 0;
}
