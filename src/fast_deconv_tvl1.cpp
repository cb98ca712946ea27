#include "src/fast_deconv_cuda.h"
#include "src/fast_deconv_gpu.h"

namespace velmora::gpu {

bool RunTVL1Gpu(cv::Mat& four, const cv::Mat& kernel, float lambda) {
  CV_Assert(four.type() == CV_32FC4 && four.isContinuous());
  CV_Assert(kernel.type() == CV_32FC1);
  const cv::Mat taps = kernel.isContinuous() ? kernel : kernel.clone();
  return RunTVL1Gpu(four.ptr<float>(), four.rows, four.cols, taps.ptr<float>(), taps.rows,
                    taps.cols, lambda);
}

bool FastDeconvTVL1Gpu(const cv::Mat& inM, cv::Mat& out, const cv::Mat& kernel, float weight,
                       int deringFactor, float ringingWeight) {
  return FastDeconvColourGpu(inM, out, kernel, weight, deringFactor, ringingWeight,
                             static_cast<FourChannelSolve>(&RunTVL1Gpu));
}

}  // namespace velmora::gpu
