// A user of the installed Velmora library: restores a picture through the
// public header alone, finding the blur and its size, and checks what the
// outcome promises. Every function of the public header is called, so a
// function the library does not export fails the link.
//   library_user INPUT OUTPUT
#include <velmora/deblur.h>

#include <opencv2/imgcodecs.hpp>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

int failures = 0;

void Expect(bool held, const char* what) {
  if (held) return;
  std::fprintf(stderr, "library_user: expected %s\n", what);
  ++failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s INPUT OUTPUT\n", argv[0]);
    return 2;
  }
  const cv::Mat picture = cv::imread(argv[1], cv::IMREAD_COLOR);
  if (picture.empty()) {
    std::fprintf(stderr, "library_user: cannot read %s\n", argv[1]);
    return 2;
  }

  // The vocabulary's helpers, as the header documents them.
  velmora::KernelEstimator estimator{};
  Expect(velmora::ParseEstimatorName("sharp", &estimator) && estimator == velmora::KernelEstimator::kSharp,
         "\"sharp\" to name the sharp estimator");
  Expect(!velmora::ParseEstimatorName("blurry", &estimator), "an unknown estimator name to be refused");
  Expect(std::string(velmora::EstimatorName(velmora::KernelEstimator::kClassic)) == "classic",
         "the classic estimator to be called \"classic\"");
  Expect(velmora::MaxBlurSide(600) == 121 && velmora::MaxBlurSide(8) == 0, "MaxBlurSide's bounds");
  Expect(velmora::MinimumRegionSide(19) == 200 && velmora::MinimumRegionSide(101) == 303,
         "MinimumRegionSide to be max(200, 3 x side)");

  velmora::DeblurRequest request;
  request.findBlurSize = true;
  request.blurHeight = velmora::MaxBlurSide(picture.rows);
  request.blurWidth = velmora::MaxBlurSide(picture.cols);
  velmora::DeblurControl control;
  int logLines = 0;
  control.log = [&logLines](const char*) { ++logLines; };
  const velmora::DeblurOutcome out = velmora::Deblur(request, picture, &control);

  Expect(out.result == velmora::DeblurResult::kSucceeded, "the job to succeed");
  Expect(out.picture.size() == picture.size() && out.picture.type() == picture.type(),
         "the result to have the input's size and type");
  Expect(out.foundHeight >= 3 && out.foundHeight % 2 == 1 && out.foundWidth >= 3 && out.foundWidth % 2 == 1,
         "an odd blur size to be found");
  Expect(!out.kernel.empty() && std::abs(cv::sum(out.kernel)[0] - 1.0) < 1e-3, "a kernel summing to 1");
  Expect(control.Progress() >= 99.0f, "the progress to have reached the end");
  Expect(logLines > 0, "the engine's diagnostic lines to reach the log");
  if (failures == 0 && !cv::imwrite(argv[2], out.picture)) {
    std::fprintf(stderr, "library_user: cannot write %s\n", argv[2]);
    return 1;
  }
  if (failures != 0) return 1;
  std::printf("restored %s: blur size %d x %d, %.1f s\n", argv[1], out.foundHeight, out.foundWidth, out.seconds);
  return 0;
}
