#include <opencv2/imgproc.hpp>

#include "src/fast_deconv_gpu.h"

namespace velmora::gpu {

namespace {

// The canvas's three colours and a fourth channel of 0.
cv::Mat FourChannels(const cv::Mat& inM) {
  const cv::Mat zeros(inM.size(), CV_32F, cv::Scalar(0));
  cv::Mat four(inM.size(), CV_32FC4);
  const cv::Mat sources[] = {inM, zeros};
  const int pairs[] = {0, 0, 1, 1, 2, 2, 3, 3};
  cv::mixChannels(sources, 2, &four, 1, pairs, 4);
  return four;
}

void ThreeChannels(const cv::Mat& four, cv::Mat& out) {
  cv::Mat zeros(four.size(), CV_32F);
  cv::Mat targets[] = {out, zeros};
  const int pairs[] = {0, 0, 1, 1, 2, 2, 3, 3};
  cv::mixChannels(&four, 1, targets, 2, pairs, 4);
}

}  // namespace

bool FastDeconvColourGpu(const cv::Mat& inM, cv::Mat& out, const cv::Mat& kernel, float weight,
                         int deringFactor, float ringingWeight, FourChannelSolve solve) {
  CV_Assert(inM.type() == CV_32FC3);
  cv::Mat four = FourChannels(inM);
  out.create(inM.size(), inM.type());
  const bool ok = solve(four, kernel, weight);
  if (ok) ThreeChannels(four, out);
  if (deringFactor > 1) {
    four = FourChannels(inM);
    cv::Mat second(inM.size(), CV_32FC3);
    if (solve(four, kernel, ringingWeight)) ThreeChannels(four, second);
    // Coherent differences (ringing, broad structure) follow the smoother
    // solve; isolated detail stays.
    second = out - second;
    cv::Mat coded;
    second.convertTo(coded, CV_8UC3, 128.0, 127.0);
    cv::medianBlur(coded, coded, 7);
    coded.convertTo(second, CV_32FC3, 0.0078125, -1.0);
    out = out - second;
  }
  return ok;
}

}  // namespace velmora::gpu
