// The GPU TV solvers against the CPU ones. The per-element functions of the
// device kernels run here over whole grids with the device's launch
// geometry and texture addressing, with the CPU's complex transforms in
// place of cuFFT, composed step by step as the device routines compose
// them. Where a device is present the real routines are compared too; where
// none is, the fault path is: a failed device call ends the job, not the
// process.
#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "pipeline/deconvolve.h"
#include "pipeline/engine.h"
#include "engine/gpu_choice.h"
#include "frontend/job.h"
#include "pipeline/pad_image.h"
#include "pipeline/spectral.h"
#include "pipeline/tv_deconv.h"
#include "src/cuda_device.h"
#include "src/fast_deconv_cuda.cuh"
#include "src/fast_deconv_cuda.h"
#include "src/fast_deconv_gpu.h"
#include "src/gpu_check.h"
#include "src/gpu_host.h"
#include "src/gpu_launch.h"
#include "tests/gpu_emulation.h"

using namespace velmora;
using namespace velmora::gpu;

namespace {

// ---------------------------------------------------------------------------
// Host emulation of the device solvers

using Grid = std::vector<Float2>;
using emulation::ForEachThread;
using emulation::Transform;

// The device state of one solve, held in host memory.
class EmulatedSolver {
 public:
  EmulatedSolver(const cv::Mat& four, const cv::Mat& kernel, bool robust)
      : H(four.rows), W(four.cols), N(static_cast<size_t>(H) * W), robust_(robust) {
    const Float4* pixels = four.ptr<Float4>();
    estimate_.assign(pixels, pixels + N);
    observed_ = estimate_;
    Grid taps(N);
    PlaceKernelWrapped(kernel.ptr<float>(), kernel.rows, kernel.cols, H, W, taps.data());
    K_.resize(N);
    Transform(taps.data(), K_.data(), H, W, FFTW_FORWARD);
    nomin_.resize(3 * N);
    for (int c = 0; c < 3; ++c) {
      Grid plane(N);
      for (size_t i = 0; i < N; ++i) plane[i] = MakeFloat2(Channel(estimate_[i], c), 0.0f);
      Transform(plane.data(), &nomin_[c * N], H, W, FFTW_FORWARD);
      if (!robust)
        ForEachThread(H, W, [&](unsigned, unsigned, size_t i) {
          nomin_[c * N + i] = deconv::ComputeNomin1(nomin_[c * N + i], K_[i]);
        });
    }
    BuildDenominators();
  }

  void Step(float t, float lambda, float beta) {
    std::vector<Float4> h(N), v(N);
    const HostTexture<Float4> s{estimate_.data(), static_cast<unsigned>(H), static_cast<unsigned>(W)};
    ForEachThread(H, W, [&](unsigned x, unsigned y, size_t i) {
      deconv::UpdateHV(s, x, y, W, H, t * lambda, &h[i], &v[i]);
    });
    const HostTexture<Float4> hTex{h.data(), static_cast<unsigned>(H), static_cast<unsigned>(W)};
    const HostTexture<Float4> vTex{v.data(), static_cast<unsigned>(H), static_cast<unsigned>(W)};
    Grid n(3 * N);
    ForEachThread(H, W, [&](unsigned x, unsigned y, size_t i) {
      deconv::UpdateN(hTex, vTex, x, y, W, H, &n[i], &n[N + i], &n[2 * N + i]);
    });
    if (robust_) spectra_.resize(3 * N);
    Grid fs(N);
    for (int c = 0; c < 3; ++c) {
      Float2* spectrum = robust_ ? &spectra_[c * N] : fs.data();
      Transform(&n[c * N], spectrum, H, W, FFTW_FORWARD);
      ForEachThread(H, W, [&](unsigned, unsigned, size_t i) {
        spectrum[i] = deconv::UpdateFS(spectrum[i], denom1_[i], denom2_[i], nomin_[c * N + i], beta);
      });
      Transform(spectrum, &n[c * N], H, W, FFTW_BACKWARD);
    }
    const float normal = 1.0f / static_cast<float>(N);
    ForEachThread(H, W, [&](unsigned, unsigned, size_t i) {
      estimate_[i] = deconv::UpdateS(n[i], n[N + i], n[2 * N + i], normal);
    });
    stepped_ = true;
  }

  void DataStep(float e) {
    spectra_.resize(3 * N);
    Grid tmp(N);
    const float normal = 1.0f / static_cast<float>(N);
    for (int c = 0; c < 3; ++c) {
      Float2* y = &spectra_[c * N];
      ForEachThread(H, W, [&](unsigned, unsigned, size_t i) {
        y[i] = deconv::UpdateFI(nomin_[c * N + i], K_[i]);
      });
      Transform(y, tmp.data(), H, W, FFTW_BACKWARD);
      ForEachThread(H, W, [&](unsigned, unsigned, size_t i) {
        tmp[i] = deconv::UpdateV(tmp[i].x, Channel(observed_[i], c), normal, e);
      });
      Transform(tmp.data(), y, H, W, FFTW_FORWARD);
      ForEachThread(H, W, [&](unsigned, unsigned, size_t i) {
        y[i] = deconv::ComputeNomin1(y[i], K_[i]);
      });
    }
  }

  void Publish() { nomin_ = spectra_; }

  void Download(cv::Mat& four) const {
    if (stepped_) std::copy(estimate_.begin(), estimate_.end(), four.ptr<Float4>());
  }

  const std::vector<float>& denom1() const { return denom1_; }

 private:
  void BuildDenominators() {
    denom1_.resize(N);
    ForEachThread(H, W, [&](unsigned, unsigned, size_t i) { denom1_[i] = deconv::ComputeDenom1(K_[i]); });
    const float smallest = SmallestPositive(denom1_.data(), N);
    ForEachThread(H, W, [&](unsigned, unsigned, size_t i) {
      denom1_[i] = deconv::RegularDenom1(denom1_[i], smallest);
    });
    Grid gx(W, MakeFloat2(0, 0)), gy(H, MakeFloat2(0, 0)), sx(W), sy(H);
    gx[0].x = gy[0].x = 1.0f;
    gx[1].x = gy[1].x = -1.0f;
    Fft1d(reinterpret_cast<fftwf_complex*>(gx.data()), reinterpret_cast<fftwf_complex*>(sx.data()), W, FFTW_FORWARD);
    Fft1d(reinterpret_cast<fftwf_complex*>(gy.data()), reinterpret_cast<fftwf_complex*>(sy.data()), H, FFTW_FORWARD);
    const HostTexture<Float2> gxTex{sx.data(), 1, static_cast<unsigned>(W)};
    const HostTexture<Float2> gyTex{sy.data(), 1, static_cast<unsigned>(H)};
    denom2_.resize(N);
    ForEachThread(H, W, [&](unsigned x, unsigned y, size_t i) {
      denom2_[i] = deconv::ComputeDenom2(gxTex(static_cast<float>(x), 0), gyTex(static_cast<float>(y), 0));
    });
  }

  int H, W;
  size_t N;
  bool robust_, stepped_ = false;
  std::vector<Float4> estimate_, observed_;
  Grid K_, nomin_, spectra_;
  std::vector<float> denom1_, denom2_;
};

bool EmulatedTVL2(cv::Mat& four, const cv::Mat& kernel, float lambda) {
  EmulatedSolver s(four, kernel, false);
  for (float t = 1.0f / lambda; GpuStepContinues(t, lambda); t = t * 0.5f) s.Step(t, lambda, 1.0f / t);
  s.Download(four);
  return true;
}

bool EmulatedTVL1(cv::Mat& four, const cv::Mat& kernel, float lambda) {
  EmulatedSolver s(four, kernel, true);
  float e = 1.0f;
  do {
    s.DataStep(e);
    s.Publish();
    for (float t = 1.0f / lambda; GpuStepContinues(t, lambda); t = t * 0.5f) s.Step(t, lambda, e / t);
    s.Publish();
    e = e / 3.0f;
  } while (!(e < 0.01f));
  s.Download(four);
  return true;
}

// ---------------------------------------------------------------------------
// Seeded inputs

struct Canvas {
  int rows, cols;
  std::vector<float> planes;  // three rows x cols planes
};

// Blocks of colour with some noise: edges for the total-variation term to
// keep, noise for it to remove.
Canvas SeededCanvas(int rows, int cols, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> level(0.1f, 0.9f), noise(-0.03f, 0.03f);
  Canvas c{rows, cols, std::vector<float>(static_cast<size_t>(rows) * cols * 3)};
  for (int k = 0; k < 3; ++k) {
    const float a = level(rng), b = level(rng);
    const int split = cols / 3 + k * 5;
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < cols; ++j)
        c.planes[(static_cast<size_t>(k) * rows + i) * cols + j] =
            ((j < split) != (i > rows / 2) ? a : b) + noise(rng);
  }
  return c;
}

cv::Mat SeededKernel(int side, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> tap(0.2f, 1.0f);
  cv::Mat k(side, side, CV_32F);
  for (int i = 0; i < side * side; ++i) k.ptr<float>()[i] = tap(rng);
  return k / cv::sum(k)[0];
}

cv::Mat FourChannelsOf(const Canvas& c) {
  cv::Mat four(c.rows, c.cols, CV_32FC4);
  const size_t n = static_cast<size_t>(c.rows) * c.cols;
  for (size_t i = 0; i < n; ++i)
    four.ptr<Float4>()[i] = MakeFloat4(c.planes[i], c.planes[n + i], c.planes[2 * n + i], 0.0f);
  return four;
}

std::vector<float> PlanesOf(const cv::Mat& four) {
  const size_t n = four.total();
  std::vector<float> planes(3 * n);
  for (size_t i = 0; i < n; ++i)
    for (int k = 0; k < 3; ++k) planes[k * n + i] = Channel(four.ptr<Float4>()[i], k);
  return planes;
}

using CpuSolve = bool (*)(const float*, float*, const float*, int, int, int, int, float);

std::vector<float> CpuPlanes(const Canvas& c, const cv::Mat& kernel, float lambda, CpuSolve solve) {
  const size_t n = static_cast<size_t>(c.rows) * c.cols;
  std::vector<float> out(3 * n);
  for (int k = 0; k < 3; ++k)
    EXPECT_TRUE(solve(c.planes.data() + k * n, out.data() + k * n, kernel.ptr<float>(), c.rows,
                      c.cols, kernel.rows, kernel.cols, lambda));
  return out;
}

// ---------------------------------------------------------------------------
// The emulated device solvers against the CPU

// Both sides compute in single precision with the same operations per step;
// the transforms differ (real against complex), so the results agree to a
// few ulps amplified over ten steps: 1e-5 leaves a margin of about ten.
constexpr double kHostBound = 1e-5;

TEST(GpuTvSolvers, L2MatchesTheCpuWhenBothRunTheSameSteps) {
  // lambda 0.004: ten steps from t = 250 on both paths (t stays above 0.1).
  const float lambda = 0.004f;
  ASSERT_EQ(GpuStepCount(lambda), ContinuationPassCount(lambda));
  const Canvas c = SeededCanvas(40, 56, 3);
  const cv::Mat kernel = SeededKernel(5, 4);
  cv::Mat four = FourChannelsOf(c);
  EmulatedTVL2(four, kernel, lambda);
  const std::vector<float> cpu = CpuPlanes(c, kernel, lambda, &FastDeconvTVL2);
  EXPECT_LE(RelativeError(PlanesOf(four).data(), cpu.data(), cpu.size()), kHostBound);
  // The fourth channel is 0 before and after.
  for (size_t i = 0; i < four.total(); ++i) ASSERT_EQ(four.ptr<Float4>()[i].w, 0.0f);
  // And the solve did something: the noise is gone, the picture moved.
  EXPECT_GT(RelativeError(cpu.data(), c.planes.data(), cpu.size()), 1e-3);
}

TEST(GpuTvSolvers, L1MatchesTheCpuWithAOneTapKernel) {
  // With one tap the CPU's border rule and the GPU's circular convolution
  // coincide, and lambda 0.004 gives both ten inner steps per round.
  const float lambda = 0.004f;
  const Canvas c = SeededCanvas(32, 48, 5);
  const cv::Mat kernel(1, 1, CV_32F, cv::Scalar(1.0f));
  cv::Mat four = FourChannelsOf(c);
  EmulatedTVL1(four, kernel, lambda);
  const std::vector<float> cpu = CpuPlanes(c, kernel, lambda, &FastDeconvTVL1);
  EXPECT_LE(RelativeError(PlanesOf(four).data(), cpu.data(), cpu.size()), kHostBound);
}

TEST(GpuTvSolvers, NoStepLeavesThePixelsAlone) {
  // 1 / lambda at most 0.1: the loop takes no step and nothing is written.
  const Canvas c = SeededCanvas(16, 20, 7);
  const cv::Mat kernel = SeededKernel(3, 8);
  for (auto solve : {&EmulatedTVL2, &EmulatedTVL1}) {
    cv::Mat four = FourChannelsOf(c);
    const cv::Mat before = four.clone();
    solve(four, kernel, 20.0f);
    EXPECT_EQ(cv::norm(four, before, cv::NORM_INF), 0.0);
  }
}

TEST(GpuTvSolvers, ZerosOfTheKernelEnergyTakeItsSmallestPositiveValue) {
  // A kernel with taps 1/2, 0, 1/2 along rows has |K|^2 = cos^2 of the
  // frequency, 0 (or rounding noise) at a quarter of the width.
  cv::Mat kernel = (cv::Mat_<float>(1, 3) << 0.5f, 0.0f, 0.5f);
  const Canvas c = SeededCanvas(8, 16, 9);
  const EmulatedSolver s(FourChannelsOf(c), kernel, false);
  const std::vector<float>& d = s.denom1();
  const float smallest = *std::min_element(d.begin(), d.end());
  EXPECT_GT(smallest, 0.0f);
  for (float v : d) EXPECT_TRUE(v >= smallest && std::isfinite(v));
}

TEST(GpuTvSolvers, ColourEntryReducesRingingAsTheCpuPathDoes) {
  // The colour entry with the emulated solver in place of the device one,
  // on a padded canvas, against the CPU path's per-plane solves and
  // median-filtered correction. The 8-bit coding of the correction turns
  // rounding-level differences into an occasional 1/128 step at a pixel.
  const int rows = 48, cols = 64;
  const Canvas picture = SeededCanvas(rows, cols, 11);
  const cv::Mat kernel = SeededKernel(5, 12);
  const float smoothness = 0.05f;  // TV-L2 weights 0.0005 and 0.005: equal step counts
  const int deringFactor = 10;
  const int padRows = CanvasSide(rows, 5), padCols = CanvasSide(cols, 5);
  std::vector<float> canvas(static_cast<size_t>(padRows) * padCols * 3, 0.0f);
  ASSERT_TRUE(PadImage(picture.planes.data(), canvas.data(), kernel.ptr<float>(), cols, rows, 3, 5,
                       5, padCols, padRows, true));
  const float first = FirstSolveWeight(smoothness, 0);
  const float second = SecondSolveWeight(smoothness, deringFactor, 0);
  ASSERT_EQ(GpuStepCount(second), ContinuationPassCount(second));

  std::vector<cv::Mat> planes;
  for (int k = 0; k < 3; ++k)
    planes.emplace_back(padRows, padCols, CV_32F, canvas.data() + static_cast<size_t>(k) * padRows * padCols);
  cv::Mat inM, out;
  cv::merge(planes, inM);
  ASSERT_TRUE(FastDeconvColourGpu(inM, out, kernel, first, deringFactor, second, &EmulatedTVL2));

  std::vector<float> cpu(picture.planes.size());
  ASSERT_EQ(DeconvolveImage(picture.planes.data(), cpu.data(), kernel.ptr<float>(), rows, cols, 3, 5,
                            5, smoothness, deringFactor, 0, true, nullptr),
            0);
  const int top = (padRows - rows) / 2, left = (padCols - cols) / 2;
  std::vector<float> gpu(picture.planes.size());
  const size_t n = static_cast<size_t>(rows) * cols;
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < cols; ++j)
        gpu[k * n + static_cast<size_t>(i) * cols + j] = out.at<cv::Vec3f>(i + top, j + left)[k];
  EXPECT_LE(RelativeError(gpu.data(), cpu.data(), cpu.size()), 1e-3);
}

TEST(GpuTvSolvers, ColourEntryRefusesOtherTypes) {
  const cv::Mat grey(8, 8, CV_32F, cv::Scalar(0.5f)), kernel(1, 1, CV_32F, cv::Scalar(1.0f));
  cv::Mat out, four(8, 8, CV_32FC3);
  EXPECT_THROW(FastDeconvTVL2Gpu(grey, out, kernel, 0.01f, 0, 0.1f), cv::Exception);
  EXPECT_THROW(RunTVL1Gpu(four, kernel, 0.01f), cv::Exception);
}

// ---------------------------------------------------------------------------
// On a device: the real routines and a whole job. Without one: the fault
// path.

bool DevicePresent() { return TestCudaDevice() && LoadCufft(); }

// cuFFT against FFTW and fused multiply-adds on the device: the self-check's
// bound.
TEST(GpuTvSolversOnDevice, RoutinesAgreeWithTheEmulation) {
  if (!DevicePresent()) GTEST_SKIP() << "no CUDA device";
  const Canvas c = SeededCanvas(256, 256, 13);
  const cv::Mat kernel = SeededKernel(15, 14);
  for (const bool robust : {false, true}) {
    cv::Mat device = FourChannelsOf(c), host = device.clone();
    robust ? RunTVL1Gpu(device, kernel, 0.004f) : RunTVL2Gpu(device, kernel, 0.004f);
    robust ? EmulatedTVL1(host, kernel, 0.004f) : EmulatedTVL2(host, kernel, 0.004f);
    const std::vector<float> d = PlanesOf(device), h = PlanesOf(host);
    EXPECT_LE(RelativeError(d.data(), h.data(), h.size()), kSolveBound) << (robust ? "L1" : "L2");
  }
}

TEST(GpuTvSolversOnDevice, SelfCheckAndAWholeJobAgreeWithTheCpu) {
  if (!DevicePresent()) GTEST_SKIP() << "no CUDA device";
  EXPECT_TRUE(CompareGpuWithCpu().empty());
  const Canvas c = SeededCanvas(300, 320, 15);
  const cv::Mat kernel = SeededKernel(9, 16);
  std::vector<float> cpu(c.planes.size()), gpu(c.planes.size());
  ASSERT_EQ(DeblurWithKernel(c.planes.data(), cpu.data(), kernel.ptr<float>(), c.rows, c.cols, 3, 9,
                             9, 0.04f, 1, 0, true, nullptr),
            0);
  ASSERT_EQ(DeblurWithKernel(c.planes.data(), gpu.data(), kernel.ptr<float>(), c.rows, c.cols, 3, 9,
                             9, 0.04f, 1, 0, false, nullptr),
            0);
  EXPECT_LE(RelativeError(gpu.data(), cpu.data(), cpu.size()), kSolveBound);
}

TEST(GpuFaults, AFailedDeviceCallEndsTheJobNotTheProgram) {
  if (TestCudaDevice()) GTEST_SKIP() << "a working device: no fault to provoke";
  ResetGpuSwitch();
  const Canvas c = SeededCanvas(40, 48, 17);
  const cv::Mat kernel = SeededKernel(5, 18);
  std::vector<float> out(c.planes.size());
  testing::internal::CaptureStderr();
  const int result = DeblurWithKernel(c.planes.data(), out.data(), kernel.ptr<float>(), c.rows, c.cols,
                                      3, 5, 5, 0.04f, 0, 0, false, nullptr);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, kEngineGpuFailed);
  EXPECT_TRUE(GpuDisabled());
  EXPECT_NE(err.find(GpuDisabledReason()), std::string::npos) << err;
  // The same request on the CPU still runs, and a job that asks for the GPU
  // now goes to the CPU.
  EXPECT_EQ(DeblurWithKernel(c.planes.data(), out.data(), kernel.ptr<float>(), c.rows, c.cols, 3, 5,
                             5, 0.04f, 0, 0, true, nullptr),
            0);
  std::string notice;
  EXPECT_FALSE(GpuTakesJob(c.rows, c.cols, 5, 5, &notice));
  ResetGpuSwitch();
}

}  // namespace
