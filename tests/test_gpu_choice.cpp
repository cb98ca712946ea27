// Which processor a job runs on: a job that asks for the GPU runs there only
// when the GPU is usable, fits and agrees with the CPU; otherwise it runs on
// the CPU, with a one-line notice where there is something to tell, and
// gives the CPU's result.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "engine/gpu_choice.h"
#include "frontend/job.h"
#include "src/cuda_device.h"
#include "src/gpu_check.h"

using namespace velmora;

namespace {

bool DevicePresent() { return TestCudaDevice() && LoadCufft(); }

cv::Mat Picture(int rows, int cols) {
  cv::Mat m(rows, cols, CV_8UC3);
  cv::RNG rng(21);
  rng.fill(m, cv::RNG::UNIFORM, 40, 200);
  cv::rectangle(m, {30, 40}, {150, 120}, cv::Scalar(230, 20, 90), cv::FILLED);
  return m;
}

// A "remaining" run with a small known kernel: fast, and deterministic.
DeblurJob KnownKernelJob(bool useCpu, const std::string& kernelPath) {
  DeblurSettings settings;
  settings.useCpu = useCpu;
  DeblurJob job(settings, nullptr);
  job.input = Picture(210, 220);
  job.kernelPath = kernelPath;
  cv::Mat kernel(5, 5, CV_32F, cv::Scalar(1.0f / 25));
  job.UseKnownKernel(kernel);
  job.mode = kModeRemaining;
  return job;
}

class GpuChoice : public testing::Test {
 protected:
  void SetUp() override { gpu::ResetGpuSwitch(); }
  void TearDown() override {
    gpu::ResetGpuSwitch();
    std::filesystem::remove(kernelPath_);
  }
  std::string kernelPath_ =
      (std::filesystem::temp_directory_path() / "velmora_gpu_choice_kernel.png").string();
};

}  // namespace

TEST(RelativeErrorMeasure, ZeroForEqualAndInfiniteForNonFinite) {
  const std::vector<float> a = {1, 2, 3, 4}, b = {1, 2, 3, 4.4f};
  EXPECT_EQ(RelativeError(a.data(), a.data(), a.size()), 0.0);
  EXPECT_NEAR(RelativeError(b.data(), a.data(), a.size()), 0.4 / std::sqrt(30.0), 1e-7);
  const std::vector<float> zeros(4, 0.0f), nan = {1, NAN, 3, 4};
  EXPECT_EQ(RelativeError(zeros.data(), zeros.data(), 4), 0.0);
  EXPECT_TRUE(std::isinf(RelativeError(a.data(), zeros.data(), 4)));
  // A GPU answer with a NaN in it never agrees.
  EXPECT_TRUE(std::isinf(RelativeError(nan.data(), a.data(), 4)));
}

TEST_F(GpuChoice, WithoutADeviceAGpuJobRunsOnTheCpuAndSaysNothing) {
  if (DevicePresent()) GTEST_SKIP() << "a usable device: the job would run on it";
  DeblurJob onCpu = KnownKernelJob(true, kernelPath_);
  onCpu.Run();
  DeblurJob asked = KnownKernelJob(false, kernelPath_);
  asked.Run();
  ASSERT_EQ(asked.status, kJobSucceeded);
  // An unusable GPU is told once at start-up, not with every job.
  EXPECT_TRUE(asked.processorNotice.empty()) << asked.processorNotice;
  EXPECT_EQ(cv::norm(asked.result, onCpu.result, cv::NORM_INF), 0.0);
}

TEST_F(GpuChoice, ASwitchedOffGpuIsToldWithEveryJob) {
  gpu::DisableGpu(kGpuDisagrees);
  std::string notice;
  EXPECT_FALSE(GpuTakesJob(300, 400, 19, 19, &notice));
  EXPECT_EQ(notice, kGpuDisagrees);
  DeblurJob job = KnownKernelJob(false, kernelPath_);
  job.Run();
  EXPECT_EQ(job.status, kJobSucceeded);
  EXPECT_EQ(job.processorNotice, kGpuDisagrees);

  // After a fault the notice says the GPU failed earlier; a CPU job says nothing.
  gpu::ResetGpuSwitch();
  gpu::DisableGpu("src/x.cu(1) : cudaSafeCall() Runtime API error 2: out of memory.");
  EXPECT_FALSE(GpuTakesJob(300, 400, 19, 19, &notice));
  EXPECT_NE(notice.find("failed earlier"), std::string::npos) << notice;
  DeblurJob onCpu = KnownKernelJob(true, kernelPath_);
  onCpu.Run();
  EXPECT_TRUE(onCpu.processorNotice.empty());
}

TEST_F(GpuChoice, OnADeviceTheSelfCheckPassesAndTooLargeCanvasesGoToTheCpu) {
  if (!DevicePresent()) GTEST_SKIP() << "no CUDA device";
  std::string notice;
  EXPECT_TRUE(GpuTakesJob(300, 400, 19, 19, &notice)) << notice;
  EXPECT_TRUE(CompareGpuWithCpu().empty());
  EXPECT_FALSE(GpuTakesJob(16400, 300, 19, 19, &notice));
  EXPECT_NE(notice.find("per side"), std::string::npos) << notice;
  DeblurJob onGpu = KnownKernelJob(false, kernelPath_), onCpu = KnownKernelJob(true, kernelPath_);
  onGpu.Run();
  onCpu.Run();
  ASSERT_EQ(onGpu.status, kJobSucceeded);
  EXPECT_TRUE(onGpu.processorNotice.empty()) << onGpu.processorNotice;
  // 8-bit results: rounding differences move a few values by one step.
  cv::Mat difference;
  cv::absdiff(onGpu.result, onCpu.result, difference);
  EXPECT_LE(cv::norm(difference, cv::NORM_INF), 2.0);
}
