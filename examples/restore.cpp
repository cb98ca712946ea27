// Restores a shaken photograph with the Velmora library: the blur's size
// and shape are found from the picture itself.
//   restore INPUT OUTPUT
#include <velmora/deblur.h>

#include <opencv2/imgcodecs.hpp>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s INPUT OUTPUT\n", argv[0]);
    return 2;
  }
  const cv::Mat picture = cv::imread(argv[1], cv::IMREAD_UNCHANGED);
  velmora::DeblurRequest request;
  request.estimator = velmora::KernelEstimator::kSharp;
  request.findBlurSize = true;  // within the largest size the picture allows
  request.blurHeight = velmora::MaxBlurSide(picture.rows);
  request.blurWidth = velmora::MaxBlurSide(picture.cols);
  const velmora::DeblurOutcome out = velmora::Deblur(request, picture);
  if (out.result != velmora::DeblurResult::kSucceeded || !cv::imwrite(argv[2], out.picture)) {
    std::fprintf(stderr, "could not restore %s\n", argv[1]);
    return 1;
  }
  std::printf("blur size %d x %d, %.1f s\n", out.foundHeight, out.foundWidth, out.seconds);
  return 0;
}
