// The GPU padding steps against the CPU ones. The per-element functions of
// the device kernels run here over whole grids, launched thread by thread
// with the device's geometry, with the CPU's complex transforms standing in
// for cuFFT; where a device is present the real routines are compared too.
// A double-precision evaluation of the refinement's formula is the common
// reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "pipeline/pad_image.h"
#include "pipeline/spectral.h"
#include "src/cuda_device.h"
#include "src/cupadimage.cuh"
#include "src/cupadimage.h"
#include "src/gpu_check.h"
#include "src/gpu_host.h"
#include "src/gpu_launch.h"
#include "tests/gpu_emulation.h"

using namespace velmora;
using namespace velmora::gpu;

namespace {

constexpr float kIreg = 0.002f;  // the weights the padding loop passes
constexpr float kBreg = 0.1f;

using Complex = std::complex<double>;

// ---------------------------------------------------------------------------
// Host emulation of the device routines

// The padding kernels index by element only.
template <typename Body>
void Launch(int rows, int cols, Body body) {
  emulation::ForEachThread(rows, cols, [&](unsigned, unsigned, size_t i) { body(i); });
}

using emulation::Transform;

// The device's kernel-to-spectrum: wrapped placement, forward transform.
std::vector<Float2> SpectrumOf(const float* kernel, int kr, int kc, int rows, int cols) {
  std::vector<Float2> grid(GridSize(rows, cols));
  PlaceKernelWrapped(kernel, kr, kc, rows, cols, grid.data());
  return Transform(grid, rows, cols, FFTW_FORWARD);
}

// The four host spectra of a level, as the GPU path hands them around.
struct LevelSpectra {
  int rows = 0, cols = 0;
  std::vector<Float2> f, f2, wt, derrs;
  LevelSpectra(int r, int c)
      : rows(r), cols(c), f(GridSize(r, c)), f2(f.size()), wt(f.size()), derrs(f.size()) {}
};

constexpr float kDx[] = {1, -1, 0};
constexpr float kDxx[] = {1, -2, 1, 0, 0};
constexpr float kDxy[] = {1, -1, 0, -1, 1, 0, 0, 0, 0};

LevelSpectra EmulateBuild(const std::vector<float>& kernel, int kr, int kc, int rows, int cols) {
  LevelSpectra s(rows, cols);
  {
    const auto gx = SpectrumOf(kDx, 1, 3, rows, cols);
    const auto gy = SpectrumOf(kDx, 3, 1, rows, cols);
    Launch(rows, cols, [&](size_t i) { s.derrs[i] = pad::ComputeDerrs(gx[i], gy[i]); });
  }
  {
    const auto gxx = SpectrumOf(kDxx, 1, 5, rows, cols);
    const auto gyy = SpectrumOf(kDxx, 5, 1, rows, cols);
    const auto gxy = SpectrumOf(kDxy, 3, 3, rows, cols);
    Launch(rows, cols,
           [&](size_t i) { s.wt[i] = pad::ComputeWt(gxx[i], gyy[i], gxy[i], s.derrs[i].x); });
  }
  s.f = SpectrumOf(kernel.data(), kr, kc, rows, cols);
  Launch(rows, cols, [&](size_t i) { s.f2[i] = pad::ComputeF2(s.f[i]); });
  return s;
}

void EmulateRefine(float* plane, const LevelSpectra& s) {
  const int rows = s.rows, cols = s.cols;
  const size_t n = GridSize(rows, cols);
  std::vector<Float2> inout(n);
  RealToComplex(plane, n, inout.data());
  const std::vector<Float2> b = Transform(inout, rows, cols, FFTW_FORWARD);
  Launch(rows, cols, [&](size_t i) {
    inout[i] = pad::ComputeFreqI(b[i], s.f[i], s.f2[i].x, s.wt[i].x, s.derrs[i].x, kIreg, kBreg);
  });
  const std::vector<Float2> back = Transform(inout, rows, cols, FFTW_BACKWARD);
  const float normal = 1.0f / static_cast<float>(n);
  Launch(rows, cols, [&](size_t i) { plane[i] = pad::ComputeOut(back[i], normal); });
}

LevelSpectra DeviceBuild(const std::vector<float>& kernel, int kr, int kc, int rows, int cols) {
  LevelSpectra s(rows, cols);
  int rowsOut = -1, colsOut = -1;
  BuildPaddingSpectraGpu(kernel.data(), cols, rows, kc, kr, s.f.data(), s.f2.data(), s.wt.data(),
                         s.derrs.data(), &rowsOut, &colsOut);
  EXPECT_EQ(rowsOut, rows);
  EXPECT_EQ(colsOut, cols);
  return s;
}

void DeviceRefine(float* plane, const LevelSpectra& s) {
  RefinePaddingGpu(plane, s.cols, s.rows, kIreg, kBreg, s.f.data(), s.f2.data(), s.wt.data(),
                   s.derrs.data());
}

// ---------------------------------------------------------------------------
// CPU gold

struct CpuLevel {
  PaddingSpectra spectra;
  ComplexArray work;
  CpuLevel(const std::vector<float>& kernel, int kr, int kc, int rows, int cols)
      : work(GridSize(rows, HalfCols(cols))) {
    BuildPaddingSpectra(kernel.data(), cols, rows, kc, kr, kIreg, kBreg, &spectra);
  }
  ~CpuLevel() { ReleasePaddingSpectra(&spectra); }
  void Refine(float* plane) { RefinePadding(plane, spectra.cols, spectra.rows, spectra, work.get()); }
};

// ---------------------------------------------------------------------------
// Double-precision reference

// Unnormalised 2-D DFT, row by row then column by column.
std::vector<Complex> Dft(std::vector<Complex> a, int rows, int cols, int sign) {
  auto pass = [&](int count, int length, auto at) {
    std::vector<Complex> twiddle(length), line(length);
    for (int k = 0; k < length; ++k)
      twiddle[k] = std::polar(1.0, sign * 2.0 * std::numbers::pi * k / length);
    for (int l = 0; l < count; ++l) {
      for (int k = 0; k < length; ++k) {
        Complex sum = 0.0;
        for (int m = 0; m < length; ++m) sum += at(l, m) * twiddle[(static_cast<long>(k) * m) % length];
        line[k] = sum;
      }
      for (int k = 0; k < length; ++k) at(l, k) = line[k];
    }
  };
  pass(rows, cols, [&](int r, int c) -> Complex& { return a[GridSize(r, cols) + c]; });
  pass(cols, rows, [&](int c, int r) -> Complex& { return a[GridSize(r, cols) + c]; });
  return a;
}

// 2 - 2 cos(2 pi k / n): |first difference|^2 at frequency k.
double DifferenceEnergy(int k, int n) { return 2.0 - 2.0 * std::cos(2.0 * std::numbers::pi * k / n); }

struct Reference {
  int rows, cols;
  std::vector<Complex> f;     // the kernel's transfer function
  std::vector<double> d, wt;  // first-difference energy, smoothness weight
};

Reference MakeReference(const std::vector<float>& kernel, int kr, int kc, int rows, int cols) {
  Reference ref{rows, cols, std::vector<Complex>(GridSize(rows, cols)), {}, {}};
  for (int r = 0; r < kr; ++r)
    for (int c = 0; c < kc; ++c) {
      const int y = ((r - kr / 2) % rows + rows) % rows, x = ((c - kc / 2) % cols + cols) % cols;
      ref.f[GridSize(y, cols) + x] = kernel[GridSize(r, kc) + c];
    }
  ref.f = Dft(ref.f, rows, cols, -1);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const double a = DifferenceEnergy(j, cols), b = DifferenceEnergy(i, rows);
      ref.d.push_back(a + b);
      ref.wt.push_back(1.0 + 0.5 * (a + b) + 0.25 * (a * a + b * b + a * b));
    }
  return ref;
}

// The refinement's gain at frequency k (inverse transform's 1 / N excluded).
double Gain(const Reference& ref, size_t k) {
  const double f2 = std::norm(ref.f[k]), w = ref.wt[k], d = ref.d[k];
  return w * w * f2 / ((w * f2 + kIreg * d) * (w + kBreg * d));
}

// The step before clamping.
std::vector<double> ReferenceStep(const std::vector<float>& plane, const Reference& ref) {
  std::vector<Complex> a(plane.begin(), plane.end());
  a = Dft(a, ref.rows, ref.cols, -1);
  for (size_t k = 0; k < a.size(); ++k) a[k] *= Gain(ref, k);
  a = Dft(a, ref.rows, ref.cols, +1);
  std::vector<double> out(a.size());
  for (size_t k = 0; k < a.size(); ++k) out[k] = a[k].real() / static_cast<double>(a.size());
  return out;
}

// ---------------------------------------------------------------------------
// Inputs

std::vector<float> RandomKernel(int kr, int kc, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::vector<float> k(GridSize(kr, kc));
  double sum = 0.0;
  for (float& v : k) sum += v = u(rng) * u(rng);  // uneven, so its spectrum has phase
  for (float& v : k) v = static_cast<float>(v / sum);
  return k;
}

// Smooth structure plus noise, saturating at lo and hi in places.
std::vector<float> RandomPlane(int rows, int cols, unsigned seed, float lo, float hi) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  const float fx = 0.05f + 0.3f * u(rng), fy = 0.05f + 0.3f * u(rng);
  std::vector<float> p(GridSize(rows, cols));
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const float s = 0.5f + 0.45f * std::sin(fx * j + 1.0f) * std::cos(fy * i) + 0.3f * (u(rng) - 0.5f);
      p[GridSize(i, cols) + j] = lo + (hi - lo) * std::clamp(s, 0.0f, 1.0f);
    }
  return p;
}

double MaxAbsDiff(const std::vector<float>& a, const std::vector<float>& b) {
  double worst = 0.0;
  for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(double(a[i]) - b[i]));
  return worst;
}

double Mean(const std::vector<float>& v) {
  double s = 0.0;
  for (float x : v) s += x;
  return s / static_cast<double>(v.size());
}

struct Size {
  int rows, cols;
};
// Grids that are not multiples of the block side (odd, prime), as coarse
// padding levels are, and one that is.
const Size kSizes[] = {{40, 54}, {45, 37}, {32, 48}};

struct KernelCase {
  int kr, kc;
  unsigned seed;
};
const KernelCase kKernels[] = {{7, 5, 1}, {9, 9, 2}, {1, 3, 3}, {3, 3, 4}};

// ---------------------------------------------------------------------------
// Bounds. Everything runs in single precision: one rounding is 6e-8 of the
// value, and a transform of these grids (up to about 2000 points, some 11
// butterfly stages) adds a few roundings per stage of the largest value it
// carries. Against values of size 1 the single-precision paths thus stay
// within a few 1e-7 (the worst seen is 2.5e-7 for a spectrum, 5e-7 for a
// step); the bounds leave a factor of about four above that. A fault of the
// arithmetic (a lost conjugate, a swapped weight, a wrong index) errs by
// 1e-3 or more.

// D is at most 8 and Wt at most 17: errors are taken relative to those
// maxima (near the origin the values are tiny and their absolute error is
// what counts).
constexpr double kEnergyBound = 1e-6;
// |F| is at most 1 (kernels sum to 1); |F|^2 doubles its relative error.
constexpr double kSpectrumBound = 1e-6;
// Per frequency, relative to the coefficient |B|: the gain lies in [0, 1]
// and is formed from F2, Wt and D with five roundings of its own.
constexpr double kGainBound = 5e-6;
// One step of samples in [0, 1]: two transforms and the gain.
constexpr double kStepBound = 2e-6;
// Ten steps: each step's error passes through the next one's gain (at most
// 1), so at worst they add up.
constexpr double kTenStepBound = 10 * kStepBound;
// A device computes with fused multiply-add and cuFFT's own algorithms: the
// same order of error, with room for a different accumulation.
constexpr double kDeviceFactor = 4.0;

// ---------------------------------------------------------------------------
// Shared checks for the emulation and the device

void CheckSpectra(const LevelSpectra& s, const std::vector<float>& kernel, int kr, int kc,
                  double factor) {
  const int rows = s.rows, cols = s.cols;
  const Reference ref = MakeReference(kernel, kr, kc, rows, cols);
  ComplexArray cpuF(GridSize(rows, cols));
  KernelToSpectrum(kernel.data(), cpuF.get(), rows, cols, kr, kc);
  CpuLevel cpu(kernel, kr, kc, rows, cols);
  const float* gain = cpu.spectra.gain.get();
  const int half = HalfCols(cols);
  const float count = static_cast<float>(GridSize(rows, cols));

  std::mt19937 rng(99);
  std::normal_distribution<float> g(0.0f, 1.0f);
  double worstD = 0, worstWt = 0, worstF = 0, worstF2 = 0, worstGain = 0;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const size_t k = GridSize(i, cols) + j;
      ASSERT_EQ(s.derrs[k].y, 0.0f);
      ASSERT_EQ(s.wt[k].y, 0.0f);
      ASSERT_EQ(s.f2[k].y, 0.0f);
      worstD = std::max(worstD, std::abs(s.derrs[k].x - ref.d[k]) / 8.0);
      worstWt = std::max(worstWt, std::abs(s.wt[k].x - ref.wt[k]) / 17.0);
      const std::complex<double> f(s.f[k].x, s.f[k].y);
      worstF = std::max(worstF, std::abs(f - std::complex<double>(cpuF[k][0], cpuF[k][1])));
      worstF = std::max(worstF, std::abs(f - ref.f[k]));
      worstF2 = std::max(worstF2, std::abs(s.f2[k].x - std::norm(ref.f[k])));

      // What the step does to an arbitrary coefficient there, against the
      // CPU's gain (stored on the half grid; the rest by point symmetry).
      const Float2 b = MakeFloat2(g(rng), g(rng));
      const Float2 out = pad::ComputeFreqI(b, s.f[k], s.f2[k].x, s.wt[k].x, s.derrs[k].x, kIreg, kBreg);
      const int hi = j < half ? i : (rows - i) % rows, hj = j < half ? j : cols - j;
      const double cpuGain = double(gain[GridSize(hi, half) + hj]) * count;
      const std::complex<double> bc(b.x, b.y);
      const double err = std::abs(std::complex<double>(out.x, out.y) - bc * cpuGain) / std::abs(bc);
      worstGain = std::max(worstGain, err);
      worstGain = std::max(worstGain, std::abs(std::complex<double>(out.x, out.y) - bc * Gain(ref, k)) /
                                          std::abs(bc));
    }
  const std::string where = std::to_string(rows) + " x " + std::to_string(cols) + ", kernel " +
                            std::to_string(kr) + " x " + std::to_string(kc);
  EXPECT_LE(worstD, factor * kEnergyBound) << where;
  EXPECT_LE(worstWt, factor * kEnergyBound) << where;
  EXPECT_LE(worstF, factor * kSpectrumBound) << where;
  EXPECT_LE(worstF2, factor * 2 * kSpectrumBound) << where;  // |F|^2: twice F's error
  EXPECT_LE(worstGain, factor * kGainBound) << where;
}

template <typename Build, typename Refine>
void CheckSteps(Build build, Refine refine, double factor) {
  unsigned seed = 200;
  for (const Size& size : kSizes)
    for (const KernelCase& kc : kKernels) {
      const std::vector<float> kernel = RandomKernel(kc.kr, kc.kc, kc.seed);
      const LevelSpectra s = build(kernel, kc.kr, kc.kc, size.rows, size.cols);
      CpuLevel cpu(kernel, kc.kr, kc.kc, size.rows, size.cols);
      const Reference ref = MakeReference(kernel, kc.kr, kc.kc, size.rows, size.cols);
      const std::string where = std::to_string(size.rows) + " x " + std::to_string(size.cols) +
                                ", kernel " + std::to_string(kc.kr) + " x " + std::to_string(kc.kc);

      // Noise a little past 0 and 1, so that both clamps cut in.
      const std::vector<float> plane = RandomPlane(size.rows, size.cols, ++seed, -0.1f, 1.1f);
      std::vector<float> gpu = plane, gold = plane;
      refine(gpu.data(), s);
      cpu.Refine(gold.data());
      EXPECT_LE(MaxAbsDiff(gpu, gold), factor * kStepBound) << where;
      const std::vector<double> exact = ReferenceStep(plane, ref);
      std::vector<float> clamped(exact.size());
      int below = 0, above = 0;
      for (size_t i = 0; i < exact.size(); ++i) {
        clamped[i] = static_cast<float>(std::clamp(exact[i], 0.0, 1.0));
        below += exact[i] < 0.0;
        above += exact[i] > 1.0;
      }
      EXPECT_LE(MaxAbsDiff(gpu, clamped), factor * kStepBound) << where;
      EXPECT_GT(below, 0) << where;
      EXPECT_GT(above, 0) << where;

      // The padding loop's ten steps: the two paths do not drift apart.
      for (int step = 1; step < 10; ++step) {
        refine(gpu.data(), s);
        cpu.Refine(gold.data());
      }
      EXPECT_LE(MaxAbsDiff(gpu, gold), factor * kTenStepBound) << where << ", ten steps";
    }
}

}  // namespace

// ---------------------------------------------------------------------------

TEST(GpuPaddingEmulated, SpectraMatchTheClosedFormsAndTheCpuGain) {
  for (const Size& size : kSizes)
    for (const KernelCase& kc : kKernels) {
      const std::vector<float> kernel = RandomKernel(kc.kr, kc.kc, kc.seed);
      CheckSpectra(EmulateBuild(kernel, kc.kr, kc.kc, size.rows, size.cols), kernel, kc.kr, kc.kc,
                   1.0);
    }
}

TEST(GpuPaddingEmulated, StepsMatchTheCpuSteps) {
  CheckSteps(EmulateBuild, EmulateRefine, 1.0);
}

TEST(GpuPaddingEmulated, UnitAndCentredImpulseKernelsHaveFlatSpectra) {
  const float one[] = {1.0f};
  const float impulse[] = {0, 0, 0, 0, 1, 0, 0, 0, 0};
  for (const Size& size : kSizes) {
    const auto a = SpectrumOf(one, 1, 1, size.rows, size.cols);
    const auto b = SpectrumOf(impulse, 3, 3, size.rows, size.cols);
    for (size_t i = 0; i < a.size(); ++i) {
      // A lone tap at the origin meets no twiddle factor but 1: exact.
      ASSERT_EQ(a[i].x, 1.0f);
      ASSERT_EQ(a[i].y, 0.0f);
      ASSERT_EQ(b[i].x, 1.0f);
      ASSERT_EQ(b[i].y, 0.0f);
      ASSERT_EQ(pad::ComputeF2(a[i]).x, 1.0f);
    }
  }
}

TEST(GpuPaddingEmulated, ResultsOutsideTheUnitRangeAreClampedExactly) {
  // Element by element: scaled real parts above 1 give 1, below 0 give 0,
  // the rest pass scaled.
  const float normal = 1.0f / 64.0f;
  const float parts[] = {-1e30f, -64.0f, -1e-3f, 0.0f, 1e-3f, 32.0f, 63.999f, 64.0f, 64.01f, 1e30f};
  for (float part : parts) {
    const float v = pad::ComputeOut(MakeFloat2(part, 5.0f), normal);
    const float scaled = part * normal;
    if (scaled > 1.0f)
      EXPECT_EQ(v, 1.0f) << part;
    else if (scaled < 0.0f)
      EXPECT_EQ(v, 0.0f) << part;
    else
      EXPECT_EQ(v, scaled) << part;
  }

  // A whole step over a plane well outside [0, 1].
  for (const KernelCase& kc : {KernelCase{1, 1, 0}, KernelCase{3, 3, 4}}) {
    const int rows = 45, cols = 37;
    const std::vector<float> kernel =
        kc.kr == 1 ? std::vector<float>{1.0f} : RandomKernel(kc.kr, kc.kc, kc.seed);
    const LevelSpectra s = EmulateBuild(kernel, kc.kr, kc.kc, rows, cols);
    const Reference ref = MakeReference(kernel, kc.kr, kc.kc, rows, cols);
    const std::vector<float> plane = RandomPlane(rows, cols, 7, -1.0f, 2.0f);
    const std::vector<double> exact = ReferenceStep(plane, ref);
    std::vector<float> out = plane;
    EmulateRefine(out.data(), s);
    int high = 0, low = 0;
    for (size_t i = 0; i < out.size(); ++i) {
      // Away from the edges of the range by more than the step's error the
      // outcome is decided.
      if (exact[i] > 1.0 + 1e-4) {
        ASSERT_EQ(out[i], 1.0f) << i;
        ++high;
      } else if (exact[i] < -1e-4) {
        ASSERT_EQ(out[i], 0.0f) << i;
        ++low;
      } else {
        ASSERT_GE(out[i], 0.0f);
        ASSERT_LE(out[i], 1.0f);
        ASSERT_NEAR(out[i], std::clamp(exact[i], 0.0, 1.0), kStepBound) << i;
      }
    }
    // The plane really did leave the range on both sides.
    EXPECT_GT(high, 50);
    EXPECT_GT(low, 50);
  }
}

TEST(GpuPaddingEmulated, UnitKernelStepSmoothsAndKeepsTheMean) {
  const std::vector<float> one{1.0f};
  for (const Size& size : kSizes) {
    const LevelSpectra s = EmulateBuild(one, 1, 1, size.rows, size.cols);
    const Reference ref = MakeReference(one, 1, 1, size.rows, size.cols);
    const size_t n = GridSize(size.rows, size.cols);

    // With F = 1 the step is IFFT(Wt^2 B / ((Wt + 0.002 D)(Wt + 0.1 D))) / N.
    const std::vector<float> plane = RandomPlane(size.rows, size.cols, 17, 0.1f, 0.9f);
    std::vector<float> out = plane;
    EmulateRefine(out.data(), s);
    std::vector<Complex> spectrum(plane.begin(), plane.end());
    spectrum = Dft(spectrum, size.rows, size.cols, -1);
    for (size_t k = 0; k < n; ++k) {
      const double w = ref.wt[k], d = ref.d[k];
      spectrum[k] *= w * w / ((w + kIreg * d) * (w + kBreg * d));
    }
    spectrum = Dft(spectrum, size.rows, size.cols, +1);
    double worst = 0.0;
    for (size_t k = 0; k < n; ++k)
      worst = std::max(worst, std::abs(out[k] - spectrum[k].real() / static_cast<double>(n)));
    EXPECT_LE(worst, kStepBound);

    // Nothing reached the clamp, so the zero frequency, which passes
    // unchanged, keeps the mean (of samples of size 1 through two
    // transforms: a few units of rounding).
    ASSERT_GT(*std::min_element(out.begin(), out.end()), 0.0f);
    ASSERT_LT(*std::max_element(out.begin(), out.end()), 1.0f);
    EXPECT_NEAR(Mean(out), Mean(plane), 1e-6);

    // Above 1 in places: the clamp cuts the mean by what it removes.
    const std::vector<float> bright = RandomPlane(size.rows, size.cols, 18, 0.6f, 1.4f);
    const std::vector<double> exact = ReferenceStep(bright, ref);
    double cut = 0.0;
    for (double v : exact) cut += std::max(v - 1.0, 0.0) - std::max(-v, 0.0);
    cut /= static_cast<double>(n);
    ASSERT_GT(cut, 0.01);
    std::vector<float> clipped = bright;
    EmulateRefine(clipped.data(), s);
    EXPECT_NEAR(Mean(clipped), Mean(bright) - cut, 1e-5);
  }
}

TEST(GpuPaddingDevice, RoutinesMatchTheCpu) {
  if (!(TestCudaDevice() && LoadCufft())) GTEST_SKIP() << "no CUDA device";
  ResetGpuSwitch();
  for (const Size& size : kSizes)
    for (const KernelCase& kc : kKernels) {
      const std::vector<float> kernel = RandomKernel(kc.kr, kc.kc, kc.seed);
      CheckSpectra(DeviceBuild(kernel, kc.kr, kc.kc, size.rows, size.cols), kernel, kc.kr, kc.kc,
                   kDeviceFactor);
    }
  CheckSteps(DeviceBuild, DeviceRefine, kDeviceFactor);
  // A finest-level canvas size.
  const std::vector<float> kernel = RandomKernel(19, 19, 5);
  const LevelSpectra s = DeviceBuild(kernel, 19, 19, 256, 512);
  CpuLevel cpu(kernel, 19, 19, 256, 512);
  std::vector<float> gpu = RandomPlane(256, 512, 9, 0.0f, 1.0f), gold = gpu;
  DeviceRefine(gpu.data(), s);
  cpu.Refine(gold.data());
  // 131072 points: a few more butterfly stages than the small grids.
  EXPECT_LE(MaxAbsDiff(gpu, gold), 2 * kDeviceFactor * kStepBound);
  EXPECT_FALSE(GpuDisabled());
}
