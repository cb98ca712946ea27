#include "src/fast_deconv_cuda.h"
#include "src/fast_deconv_gpu.h"

namespace velmora::gpu {

bool RunTVL2Gpu(cv::Mat& inM, const cv::Mat& kernel, float lambda) {
  CV_Assert(inM.type() == CV_32FC4);
  CV_Assert(inM.isContinuous() && kernel.type() == CV_32FC1);
  cv::Mat& four = inM;
  const cv::Mat taps = kernel.isContinuous() ? kernel : kernel.clone();
  return RunTVL2Gpu(four.ptr<float>(), four.rows, four.cols, taps.ptr<float>(), taps.rows,
                    taps.cols, lambda);
}

bool FastDeconvTVL2Gpu(const cv::Mat& inM, cv::Mat& out, const cv::Mat& kernel, float weight,
                       int deringFactor, float ringingWeight) {
  CV_Assert(inM.type() == CV_32FC3);
  return FastDeconvColourGpu(inM, out, kernel, weight, deringFactor, ringingWeight,
                             static_cast<FourChannelSolve>(&RunTVL2Gpu));
}

}  // namespace velmora::gpu
