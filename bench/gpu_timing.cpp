// CPU against GPU on colour photographs of 1 and 12 megapixels blurred by a
// 31 x 31 shake: the whole blind job, the sharp estimator's job (whose
// estimation stays on the CPU) and the deconvolution alone, medians of a
// few runs, and how far the GPU's picture is from the CPU's. Prints a
// Markdown table last. Needs a usable GPU; says so and stops otherwise.
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "pipeline/engine.h"
#include "engine/gpu_choice.h"
#include "src/cuda_device.h"
#include "tools/shake.h"

namespace {

constexpr int kBlur = 31;

struct Case {
  const char* name;
  int rows, cols, runs;
};

struct Row {
  std::string picture, step;
  double cpu = 0, gpu = 0, error = 0;
};

// The sample photograph enlarged to rows x cols and shaken; planar RGB.
std::vector<float> Picture(const Case& c, const cv::Mat& kernel) {
  cv::Mat bgr = cv::imread(VELMORA_SOURCE_DIR "/samples/coffee.png", cv::IMREAD_COLOR);
  cv::resize(bgr, bgr, {c.cols, c.rows}, 0, 0, cv::INTER_CUBIC);
  bgr.convertTo(bgr, CV_32FC3, 1.0 / 255.0);
  const cv::Mat blurred = velmora::tools::BlurImage(bgr, kernel, 0.005, 7);
  std::vector<cv::Mat> channels;
  cv::split(blurred, channels);
  std::vector<float> planar;
  for (int k = 2; k >= 0; --k) planar.insert(planar.end(), channels[k].begin<float>(), channels[k].end<float>());
  return planar;
}

template <typename Run>
double MedianSeconds(int runs, Run run) {
  std::vector<double> seconds;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    run();
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(seconds.begin(), seconds.end());
  return seconds[seconds.size() / 2];
}

void TimeCase(const Case& c, std::vector<Row>* table) {
  const cv::Mat kernel = velmora::tools::GenerateShakeKernel(kBlur, 11);
  const std::vector<float> in = Picture(c, kernel);
  std::vector<float> cpuOut(in.size()), gpuOut(in.size());
  std::vector<float> cpuKernel(kBlur * kBlur), gpuKernel(kBlur * kBlur);
  // The sharp estimator estimates on the CPU either way; only its
  // deconvolution moves to the GPU.
  enum Step { kKnown, kClassic, kSharp };
  const char* names[] = {"deconvolution alone", "whole blind job", "whole sharp-estimator job"};
  for (const Step step : {kKnown, kClassic, kSharp}) {
    Row row{c.name, names[step]};
    for (const bool useCpu : {true, false}) {
      std::vector<float>& out = useCpu ? cpuOut : gpuOut;
      float* estimate = useCpu ? cpuKernel.data() : gpuKernel.data();
      float progress = -1;
      auto run = [&] {
        if (step == kKnown)
          DeblurWithKernel(in.data(), out.data(), kernel.ptr<float>(), c.rows, c.cols, 3, kBlur, kBlur,
                           0.04f, 0, 0, useCpu, &progress);
        else if (step == kClassic)
          DeblurImage(in.data(), out.data(), c.rows, c.cols, 3, estimate, kBlur, kBlur, 1.0f, 1.0f,
                      0.04f, 0, 0, useCpu, &progress);
        else
          DeblurImageSharp(in.data(), out.data(), c.rows, c.cols, 3, estimate, kBlur, kBlur, 1.0f,
                           0.04f, 0, 0, useCpu, &progress);
      };
      run();  // plans, wisdom and device start-up are not what is timed
      (useCpu ? row.cpu : row.gpu) = MedianSeconds(c.runs, run);
      std::fprintf(stderr, "%s, %s, %s: %.3f s\n", c.name, row.step.c_str(), useCpu ? "CPU" : "GPU",
                   useCpu ? row.cpu : row.gpu);
    }
    row.error = velmora::RelativeError(gpuOut.data(), cpuOut.data(), in.size());
    table->push_back(row);
  }
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (!TestCudaDevice() || !LoadCufft()) {
    std::printf("no usable GPU: nothing to compare\n");
    return 2;
  }
  std::string notice;
  if (!velmora::GpuTakesJob(3000, 4000, kBlur, kBlur, &notice)) {
    std::printf("the GPU does not take the jobs: %s\n", notice.c_str());
    return 1;
  }
  const Case cases[] = {{"1 MP (1155 x 866)", 866, 1155, 3}, {"12 MP (4000 x 3000)", 3000, 4000, 1}};
  std::vector<Row> table;
  for (const Case& c : cases) TimeCase(c, &table);
  std::printf("\n| picture | step | CPU | GPU | speed-up | GPU vs CPU (relative error) |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (const Row& r : table)
    std::printf("| %s | %s | %.3f s | %.3f s | %.2f | %.2e |\n", r.picture.c_str(), r.step.c_str(),
                r.cpu, r.gpu, r.cpu / r.gpu, r.error);
  return 0;
}
