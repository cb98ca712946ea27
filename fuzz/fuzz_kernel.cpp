// The kernel-picture loader on any bytes: what it accepts has odd sides,
// finite non-negative taps and sums to one.
#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>

#include <cmath>

#include "fuzz/fuzz_support.h"
#include "io/errors.h"
#include "io/kernel_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const cv::Mat kernel = velmora::io::LoadKernelFile(velmora::fuzz::ScratchFile(data, size));
    if (kernel.type() != CV_32F || kernel.rows % 2 == 0 || kernel.cols % 2 == 0) __builtin_trap();
    double low = 0.0;
    cv::minMaxLoc(kernel, &low);
    if (!cv::checkRange(kernel) || low < 0.0 || std::abs(cv::sum(kernel)[0] - 1.0) > 1e-3) __builtin_trap();
  } catch (const velmora::io::IoError&) {
    // refused with a message
  }
  return 0;
}
