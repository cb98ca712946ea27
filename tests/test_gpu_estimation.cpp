// The GPU kernel-estimation steps without a GPU: the device kernels' element
// functions run over whole grids on the host (textures emulated), composed
// the way the device routines compose them (whole spectra, complex
// transforms), and compared with the CPU shock filter and solvers. Where a
// device exists, the device routines themselves are compared too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "estimation/fourier_solvers.h"
#include "estimation/gpu_estimation_steps.h"
#include "estimation/level_spectra.h"
#include "estimation/prediction.h"
#include "estimation/shock_filter.h"
#include "pipeline/spectral.h"
#include "src/cuda_device.h"
#include "src/cuestimatekernel.cuh"
#include "src/cuestimatekernel.h"
#include "src/gpu_host.h"
#include "tests/seeded.h"

using namespace velmora;
using gpu::Float2;
using gpu::GpuLevelSpectra;
namespace estimate = gpu::estimate;

namespace {

using Plane = std::vector<float>;
using Grid = std::vector<Float2>;

constexpr float kWtKreg = 40.0f;
constexpr float kWtIreg = 0.002f;

using test_inputs::Random;

fftwf_complex* Fftw(Float2* p) { return reinterpret_cast<fftwf_complex*>(p); }

float MaxAbs(const Plane& v) {
  float m = 0.0f;
  for (float x : v) m = std::max(m, std::fabs(x));
  return m;
}

float MaxDifference(const Plane& a, const Plane& b) {
  float m = 0.0f;
  for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::fabs(a[i] - b[i]));
  return m;
}

// ---- The shock filter -------------------------------------------------

// A texture read that, when poisoned, answers NaN for every coordinate
// outside the grid: a boundary rule that fails to replace such a read shows.
struct TestTexture {
  gpu::HostTexture<float> texture;
  bool poisoned;
  float operator()(float x, float y) const {
    if (poisoned && (x >= static_cast<float>(texture.cols) || y >= static_cast<float>(texture.rows)))
      return std::numeric_limits<float>::quiet_NaN();
    return texture(x, y);
  }
};

// ShockFilterGpu's two passes per iteration, element by element.
Plane EmulatedShock(const Plane& input, int width, int height, int iterations, float dt, float h,
                    bool poisoned = false) {
  const size_t n = input.size();
  const unsigned rows = height, cols = width;
  Plane image = input, out(n), grad(n), grad2(n), ix(n), iy(n);
  const TestTexture tex{{image.data(), rows, cols}, poisoned};
  const TestTexture xtex{{ix.data(), rows, cols}, poisoned};
  const TestTexture ytex{{iy.data(), rows, cols}, poisoned};
  for (int it = 0; it < iterations; ++it) {
    for (unsigned y = 0; y < rows; ++y)
      for (unsigned x = 0; x < cols; ++x) {
        const estimate::ShockSlopes s = estimate::ComputeOrshockS1(tex, x, y, rows, cols);
        const size_t i = static_cast<size_t>(y) * cols + x;
        grad[i] = s.grad;
        grad2[i] = s.grad2;
        ix[i] = s.ix;
        iy[i] = s.iy;
      }
    for (unsigned y = 0; y < rows; ++y)
      for (unsigned x = 0; x < cols; ++x) {
        const size_t i = static_cast<size_t>(y) * cols + x;
        out[i] = estimate::ComputeOrshockS2(tex, xtex, ytex, grad[i], grad2[i], dt, 1.0f / h, x, y,
                                            rows, cols);
      }
    image = out;
  }
  return out;
}

Plane CpuShock(const Plane& input, int width, int height, int iterations, float dt, float h) {
  Plane out(input.size());
  ShockFilter(input.data(), out.data(), width, height, iterations, dt, h);
  return out;
}

// A smooth picture with ramps and plateaus (the shock filter's business)
// plus a little noise.
Plane ShockInput(int width, int height, unsigned seed) {
  Plane v = Random(GridSize(height, width), seed, -0.05f, 0.05f);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      v[GridSize(y, width) + x] += 0.5f + 0.4f * std::tanh(0.3f * (x - width / 3)) *
                                               std::cos(0.2f * y);
  return v;
}

TEST(ShockElements, MatchTheCpuFilterBitForBit) {
  // With h = 1 (as the prediction calls it) the passes do the CPU's
  // arithmetic in the CPU's order: no rounding may differ. Sizes: tiny,
  // a single interior row/column, and sides that are no multiple of 16.
  const int sizes[][2] = {{2, 2}, {3, 2}, {2, 5}, {17, 33}, {40, 23}};
  for (const auto& size : sizes) {
    const int w = size[0], hgt = size[1];
    const auto seed = static_cast<unsigned>(w * 100 + hgt);
    // Only the sign of the curvature moves a pixel: on noise every term of
    // it (the cross term along the edges too) decides some signs.
    for (const Plane& in : {ShockInput(w, hgt, seed), Random(GridSize(hgt, w), seed)})
      for (int iterations : {1, 3}) {
        SCOPED_TRACE(testing::Message() << w << " x " << hgt << ", " << iterations << " iterations");
        const Plane cpu = CpuShock(in, w, hgt, iterations, 0.9f, 1.0f);
        EXPECT_EQ(EmulatedShock(in, w, hgt, iterations, 0.9f, 1.0f), cpu);
        // Every read past an edge is replaced by a boundary rule.
        EXPECT_EQ(EmulatedShock(in, w, hgt, iterations, 0.9f, 1.0f, true), cpu);
      }
  }
}

TEST(ShockElements, OtherSpacingAndFlatImages) {
  const int w = 31, hgt = 19;
  const Plane in = ShockInput(w, hgt, 7);
  // The device multiplies by the host's 1 / h where the CPU divides by h:
  // the update dt g / h (below 1 here) may differ in its last bit, which
  // added to a value below 2 is at most one float step of 2^-23.
  const Plane cpu = CpuShock(in, w, hgt, 1, 0.5f, 3.0f);
  EXPECT_LE(MaxDifference(EmulatedShock(in, w, hgt, 1, 0.5f, 3.0f), cpu), 2.4e-7f);
  EXPECT_GT(MaxDifference(cpu, in), 0.01f);  // the filter did move pixels
  // A constant image has no differences: grad is 0 and nothing moves.
  const Plane flat(GridSize(hgt, w), 0.37f);
  EXPECT_EQ(EmulatedShock(flat, w, hgt, 2, 0.9f, 1.0f), flat);
}

TEST(ShockFilterGpu, CopiesWithoutDeviceWork) {
#ifdef VELMORA_HAVE_CUDA
  // No iterations, or no neighbours, need no device: these run on any
  // machine with this build and copy the input as the CPU filter does.
  const Plane in = Random(6 * 4, 3);
  Plane out(in.size(), -1.0f);
  gpu::ShockFilterGpu(in.data(), out.data(), 6, 4, 0, 0.9f, 1.0f);
  EXPECT_EQ(out, in);
  out.assign(in.size(), -1.0f);
  gpu::ShockFilterGpu(in.data(), out.data(), 1, 24, 1, 0.9f, 1.0f);
  EXPECT_EQ(out, CpuShock(in, 1, 24, 1, 0.9f, 1.0f));
#else
  GTEST_SKIP() << "this build has no GPU path";
#endif
}

// ---- The level both solvers run on ------------------------------------

// A picture of dark and bright blocks, blurred by an asymmetric kernel, its
// level spectra and their whole form. 45 x 62: odd rows, even columns, so
// both mirror cases of the half-spectrum expansion occur.
struct Level {
  static constexpr int rows = 45, cols = 62, kr = 7, kc = 5;
  Plane sharp, blurred, gradX, gradY;
  LevelSpectra spectra;
  std::unique_ptr<GpuLevelSteps> steps;
};

Plane Blocks(int rows, int cols) {
  Plane v(GridSize(rows, cols));
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < cols; ++x) v[GridSize(y, cols) + x] = ((x / 9 + y / 7) % 3 == 0) ? 1.0f : 0.0f;
  return v;
}

Plane Blur(const Plane& sharp, int rows, int cols, const Plane& k, int kr, int kc) {
  Plane out(sharp.size(), 0.0f);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      for (int u = 0; u < kr; ++u)
        for (int v = 0; v < kc; ++v) {
          const int y = std::clamp(i - u + kr / 2, 0, rows - 1);
          const int x = std::clamp(j - v + kc / 2, 0, cols - 1);
          out[GridSize(i, cols) + j] += k[GridSize(u, kc) + v] * sharp[GridSize(y, cols) + x];
        }
  return out;
}

Plane TrueKernel() {
  Plane k(Level::kr * Level::kc, 0.0f);
  k[1 * Level::kc + 1] = 0.4f;
  k[3 * Level::kc + 2] = 0.35f;
  k[5 * Level::kc + 4] = 0.25f;
  return k;
}

const Level& TheLevel() {
  static const Level* level = [] {
    auto* l = new Level;
    l->sharp = Blocks(Level::rows, Level::cols);
    l->blurred = Blur(l->sharp, Level::rows, Level::cols, TrueKernel(), Level::kr, Level::kc);
    l->gradX.resize(l->sharp.size());
    l->gradY.resize(l->sharp.size());
    ForwardGradients(l->sharp.data(), l->gradX.data(), l->gradY.data(), Level::rows, Level::cols);
    Plane impulse(Level::kr * Level::kc, 0.0f);
    impulse[impulse.size() / 2] = 1.0f;
    BuildLevelSpectra(l->blurred.data(), impulse.data(), Level::cols, Level::rows, Level::kc,
                      Level::kr, &l->spectra);
    l->steps = std::make_unique<GpuLevelSteps>(l->spectra, Level::rows, Level::cols);
    return l;
  }();
  return *level;
}

// The largest difference between a whole spectrum and the complex
// transform it should be, relative to the transform's largest magnitude.
float SpectrumError(const Float2* whole, Grid plane, int rows, int cols) {
  Grid transform(plane.size());
  Fft2d(Fftw(plane.data()), Fftw(transform.data()), rows, cols, FFTW_FORWARD);
  float error = 0.0f, scale = 0.0f;
  for (size_t i = 0; i < plane.size(); ++i) {
    scale = std::max(scale, std::hypot(transform[i].x, transform[i].y));
    error = std::max(error, std::hypot(whole[i].x - transform[i].x, whole[i].y - transform[i].y));
  }
  return error / scale;
}

TEST(GpuLevelSteps, WholeSpectraAreTheComplexTransforms) {
  // The level's half spectra come from real transforms, the comparison from
  // complex ones; both round in single precision (measured: about 10^-7 of
  // the largest magnitude; the bound leaves a factor 50). A wrongly mirrored
  // half is off by the order of the values themselves.
  const Level& l = TheLevel();
  const GpuLevelSpectra& whole = l.steps->spectra();
  const LevelSpectra& s = l.spectra;
  Grid padded(GridSize(s.padRows, s.padCols));
  gpu::PlaceInPaddedComplexGrid(s.Bx.get(), l.rows, l.cols, s.padRows, s.padCols, s.padTop,
                                s.padLeft, padded.data());
  EXPECT_LT(SpectrumError(whole.BxFre, padded, s.padRows, s.padCols), 1e-5f);
  gpu::PlaceInPaddedComplexGrid(s.By.get(), l.rows, l.cols, s.padRows, s.padCols, s.padTop,
                                s.padLeft, padded.data());
  EXPECT_LT(SpectrumError(whole.ByFre, padded, s.padRows, s.padCols), 1e-5f);
  Plane tapered(l.blurred.size());
  Plane impulse(l.kr * l.kc, 0.0f);
  impulse[impulse.size() / 2] = 1.0f;
  EdgeTaper(l.blurred.data(), tapered.data(), l.rows, l.cols, impulse.data(), l.kr, l.kc);
  Grid image(tapered.size());
  gpu::RealToComplex(tapered.data(), tapered.size(), image.data());
  EXPECT_LT(SpectrumError(whole.FreqB, image, l.rows, l.cols), 1e-5f);
  EXPECT_EQ(whole.padTop, s.padTop);
  EXPECT_EQ(whole.padLeft, s.padLeft);
}

// ---- The kernel solve -------------------------------------------------

// EstimateKernelFFTGpu step by step on the host.
Plane EmulatedKernelSolve(const Plane& gradX, const Plane& gradY, const GpuLevelSpectra& s,
                          int rows, int cols, int kr, int kc, float wtKreg) {
  const size_t m = GridSize(s.padRows, s.padCols);
  Grid gridX(m), gridY(m), fx(m), fy(m);
  gpu::PlaceInPaddedComplexGrid(gradX.data(), rows, cols, s.padRows, s.padCols, s.padTop,
                                s.padLeft, gridX.data());
  gpu::PlaceInPaddedComplexGrid(gradY.data(), rows, cols, s.padRows, s.padCols, s.padTop,
                                s.padLeft, gridY.data());
  Fft2d(Fftw(gridY.data()), Fftw(fy.data()), s.padRows, s.padCols, FFTW_FORWARD);
  Fft2d(Fftw(gridX.data()), Fftw(fx.data()), s.padRows, s.padCols, FFTW_FORWARD);
  for (size_t i = 0; i < m; ++i)
    fx[i] = estimate::ComputeIpad(fx[i], fy[i], s.BxFre[i], s.ByFre[i], wtKreg);
  Fft2d(Fftw(fx.data()), Fftw(gridX.data()), s.padRows, s.padCols, FFTW_BACKWARD);
  Plane kernel(GridSize(kr, kc));
  gpu::CutKernelWrapped(gridX.data(), s.padRows, s.padCols, kr, kc, kernel.data());
  return kernel;
}

TEST(KernelSolveElements, ComposeToTheCpuSolve) {
  // The element is the CPU's per-frequency expression bit for bit; what
  // differs is complex against real transforms in single precision, whose
  // rounding stays near 10^-7 of the kernel's largest tap (measured; 10^-5
  // leaves a wide margin). A wrong conjugate or scale is off by whole taps.
  const Level& l = TheLevel();
  Plane cpu(l.kr * l.kc);
  EstimateKernelFFT(l.gradX.data(), l.gradY.data(), l.spectra, l.rows, l.cols, l.kr, l.kc,
                    cpu.data(), kWtKreg);
  const Plane emulated = EmulatedKernelSolve(l.gradX, l.gradY, l.steps->spectra(), l.rows, l.cols,
                                             l.kr, l.kc, kWtKreg);
  ASSERT_GT(MaxAbs(cpu), 0.05f);
  EXPECT_LE(MaxDifference(emulated, cpu), 1e-5f * MaxAbs(cpu));
  // No predicted edges: every numerator is 0, and so is the kernel.
  const Plane none(l.gradX.size(), 0.0f);
  EXPECT_EQ(EmulatedKernelSolve(none, none, l.steps->spectra(), l.rows, l.cols, l.kr, l.kc, kWtKreg),
            Plane(l.kr * l.kc, 0.0f));
}

TEST(KernelSolveElements, MatchingSpectraGiveAPointSymmetricKernel) {
  const Level& l = TheLevel();
  const LevelSpectra& s = l.spectra;
  const size_t m = GridSize(s.padRows, s.padCols);
  // The level's "blurred" gradient spectra are the predicted gradients' own.
  Grid grid(m), bx(m), by(m);
  gpu::PlaceInPaddedComplexGrid(l.gradX.data(), l.rows, l.cols, s.padRows, s.padCols, s.padTop,
                                s.padLeft, grid.data());
  Fft2d(Fftw(grid.data()), Fftw(bx.data()), s.padRows, s.padCols, FFTW_FORWARD);
  gpu::PlaceInPaddedComplexGrid(l.gradY.data(), l.rows, l.cols, s.padRows, s.padCols, s.padTop,
                                s.padLeft, grid.data());
  Fft2d(Fftw(grid.data()), Fftw(by.data()), s.padRows, s.padCols, FFTW_FORWARD);
  // Per frequency the spectrum is exactly real: s / (s + 2 wt_kreg).
  for (size_t i = 0; i < m; i += 97) {
    const Float2 v = estimate::ComputeIpad(bx[i], by[i], bx[i], by[i], kWtKreg);
    const double e = double(bx[i].x) * bx[i].x + double(bx[i].y) * bx[i].y +
                     double(by[i].x) * by[i].x + double(by[i].y) * by[i].y;
    EXPECT_EQ(v.y, 0.0f) << i;
    EXPECT_NEAR(v.x, e / (e + 2.0 * kWtKreg), 1e-6) << i;
  }
  GpuLevelSpectra matched = l.steps->spectra();
  matched.BxFre = bx.data();
  matched.ByFre = by.data();
  const int kr = 9, kc = 7;
  const Plane k = EmulatedKernelSolve(l.gradX, l.gradY, matched, l.rows, l.cols, kr, kc, kWtKreg);
  // A real, even spectrum: the inverse is even up to transform rounding,
  // which is far below 10^-5 of the centre tap.
  const float centre = k[GridSize(kr / 2, kc) + kc / 2];
  EXPECT_EQ(MaxAbs(k), centre);
  for (int i = 0; i < kr; ++i)
    for (int j = 0; j < kc; ++j)
      EXPECT_NEAR(k[GridSize(i, kc) + j], k[GridSize(kr - 1 - i, kc) + kc - 1 - j], 1e-5f * centre)
          << i << ", " << j;
}

// ---- The latent update ------------------------------------------------

// UpdateLatentImageGpu step by step on the host; counts is what the rule
// counted and clipped.
bool EmulatedLatentUpdate(const Plane& kernel, Plane& latent, const GpuLevelSpectra& s, int rows,
                          int cols, int kr, int kc, float wtIreg, bool check,
                          gpu::ClipCounts* counts = nullptr) {
  const size_t n = GridSize(rows, cols);
  Grid grid(n), f(n), solution(n);
  gpu::PlaceKernelWrapped(kernel.data(), kr, kc, rows, cols, grid.data());
  Fft2d(Fftw(grid.data()), Fftw(f.data()), rows, cols, FFTW_FORWARD);
  for (size_t i = 0; i < n; ++i)
    solution[i] = estimate::ComputeI(f[i], s.FreqWt[i], s.FreqDerrs[i], s.FreqB[i], wtIreg);
  Fft2d(Fftw(solution.data()), Fftw(grid.data()), rows, cols, FFTW_BACKWARD);
  const gpu::ClipCounts c =
      gpu::ApplyLatentClipRule(grid.data(), 1.0f / static_cast<float>(n), n, latent.data());
  if (counts) *counts = c;
  return !(check && gpu::TooManyClipped(c));
}

// The previous latent image: uniform in [0, 1], so that both sides of the
// 0.9 split meet overshoots of the deconvolved blocks.
Plane OldLatent(size_t n) { return Random(n, 11); }

// Transform rounding of the update, in pixel values near [0, 1]: complex
// against real single-precision transforms over 2790 points, and the
// device's multiplication by 1 / N against the CPU's division, measured
// below 5 x 10^-7; a wrong weight or conjugate is off by 10^-2 and more.
constexpr float kLatentBound = 1e-5f;

TEST(LatentUpdateElements, CheckedUpdateMatchesTheCpu) {
  const Level& l = TheLevel();
  const Plane k = TrueKernel();
  Plane cpu = OldLatent(l.blurred.size()), emulated = cpu;
  const bool cpuOk = UpdateLatentImage(k.data(), cpu.data(), l.spectra, l.rows, l.cols, l.kr, l.kc,
                                       kWtIreg, true);
  gpu::ClipCounts counts;
  const bool gpuOk = EmulatedLatentUpdate(k, emulated, l.steps->spectra(), l.rows, l.cols, l.kr,
                                          l.kc, kWtIreg, true, &counts);
  EXPECT_EQ(gpuOk, cpuOk);
  EXPECT_EQ(counts.counted, emulated.size());
  EXPECT_GT(counts.clipped, 0u);  // the rule was exercised
  EXPECT_LE(MaxDifference(emulated, cpu), kLatentBound);
}

TEST(LatentUpdateElements, WithoutCheckOvershootsStayOnOneSide) {
  // The CPU clamps to [0, 1]; the GPU keeps a negative value where the
  // pixel was below 0.9 and a value above 1 where it was at least 0.9.
  const Level& l = TheLevel();
  const Plane k = TrueKernel();
  const Plane old = OldLatent(l.blurred.size());
  Plane cpu = old, emulated = old;
  EXPECT_TRUE(UpdateLatentImage(k.data(), cpu.data(), l.spectra, l.rows, l.cols, l.kr, l.kc,
                                kWtIreg, false));
  EXPECT_TRUE(EmulatedLatentUpdate(k, emulated, l.steps->spectra(), l.rows, l.cols, l.kr, l.kc,
                                   kWtIreg, false));
  int negative = 0, above = 0;
  for (size_t i = 0; i < old.size(); ++i) {
    EXPECT_NEAR(std::clamp(emulated[i], 0.0f, 1.0f), cpu[i], kLatentBound) << i;
    if (emulated[i] < 0.0f) {
      ++negative;
      EXPECT_LT(old[i], 0.9f) << i;
    }
    if (emulated[i] > 1.0f) {
      ++above;
      EXPECT_GE(old[i], 0.9f) << i;
    }
  }
  EXPECT_GT(negative, 0);
  EXPECT_GT(above, 0);
}

// Whole spectra with W = 1, D = 0 and B the transform of target: with the
// impulse kernel the update gives back target.
struct PassThrough {
  Grid b;
  Plane wt, derrs;
  GpuLevelSpectra view;
  PassThrough(const Plane& target, int rows, int cols)
      : b(target.size()), wt(target.size(), 1.0f), derrs(target.size(), 0.0f) {
    Grid plane(target.size());
    gpu::RealToComplex(target.data(), target.size(), plane.data());
    Fft2d(Fftw(plane.data()), Fftw(b.data()), rows, cols, FFTW_FORWARD);
    view.FreqB = b.data();
    view.FreqWt = wt.data();
    view.FreqDerrs = derrs.data();
  }
};

TEST(LatentUpdateElements, TooManyClippedFailsAfterUpdating) {
  const int rows = 2, cols = 5;
  const Plane impulse = {0, 0, 0, 0, 1, 0, 0, 0, 0};
  const float nan = std::numeric_limits<float>::quiet_NaN();
  //                 clipped      clipped      kept   kept
  const Plane old = {0.5f, 0.95f, 0.5f,  0.95f, 0.3f, 0.3f, 0.3f, 0.3f, 0.3f, 0.3f};
  Plane target =    {1.4f, -0.3f, -0.2f, 1.3f,  0.4f, 0.4f, 0.4f, 0.4f, 0.4f, 0.4f};
  // Two of ten: exactly a fifth still succeeds, with or without check.
  Plane latent = old;
  EXPECT_TRUE(EmulatedLatentUpdate(impulse, latent, PassThrough(target, rows, cols).view, rows,
                                   cols, 3, 3, kWtIreg, true));
  const Plane expected = {1.0f, 0.0f, -0.2f, 1.3f, 0.4f};
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(latent[i], expected[i], 1e-6f) << i;
  // A pixel that was NaN is not counted: two of nine clipped is too many.
  Plane withNaN = old;
  withNaN[9] = nan;
  EXPECT_FALSE(EmulatedLatentUpdate(impulse, withNaN, PassThrough(target, rows, cols).view, rows,
                                    cols, 3, 3, kWtIreg, true));
  EXPECT_NEAR(withNaN[9], 0.4f, 1e-6f);
  // A third overshoot: 30 % fails with check, and the image holds the
  // clipped update all the same; without check the count is ignored.
  target[4] = 1.2f;
  latent = old;
  EXPECT_FALSE(EmulatedLatentUpdate(impulse, latent, PassThrough(target, rows, cols).view, rows,
                                    cols, 3, 3, kWtIreg, true));
  EXPECT_NEAR(latent[4], 1.0f, 1e-6f);
  EXPECT_NEAR(latent[3], 1.3f, 1e-6f);
  latent = old;
  EXPECT_TRUE(EmulatedLatentUpdate(impulse, latent, PassThrough(target, rows, cols).view, rows,
                                   cols, 3, 3, kWtIreg, false));
  EXPECT_NEAR(latent[4], 1.0f, 1e-6f);
}

// ---- The device routines ----------------------------------------------

bool DevicePresent() {
  static const bool present = TestCudaDevice() && LoadCufft();
  return present;
}

TEST(GpuEstimationOnDevice, RoutinesAgreeWithTheCpu) {
  if (!DevicePresent()) GTEST_SKIP() << "no CUDA device";
  const Level& l = TheLevel();
  // Shock filter: the device contracts products into fused multiply-adds,
  // so a curvature near 0 may change sign and move a pixel the other way
  // (by at most 2 dt g). Such pixels are rare; all others agree to
  // rounding.
  const int w = 97, hgt = 61;
  const Plane in = ShockInput(w, hgt, 5);
  for (int iterations : {1, 2}) {
    Plane device(in.size());
    gpu::ShockFilterGpu(in.data(), device.data(), w, hgt, iterations, 0.9f, 1.0f);
    const Plane cpu = CpuShock(in, w, hgt, iterations, 0.9f, 1.0f);
    size_t apart = 0;
    for (size_t i = 0; i < in.size(); ++i) apart += std::fabs(device[i] - cpu[i]) > 1e-5f;
    EXPECT_LE(apart, in.size() / 100) << iterations << " iterations";
  }
  // Solvers: cuFFT and fused multiply-adds round differently from FFTW;
  // the difference is of the order of the transform rounding above, 10^-3
  // of the largest tap leaves room for a different transform algorithm.
  Plane cpu(l.kr * l.kc), device(l.kr * l.kc);
  EstimateKernelFFT(l.gradX.data(), l.gradY.data(), l.spectra, l.rows, l.cols, l.kr, l.kc,
                    cpu.data(), kWtKreg);
  l.steps->EstimateKernelFFT(l.gradX.data(), l.gradY.data(), l.kr, l.kc, device.data(), kWtKreg);
  EXPECT_LE(MaxDifference(device, cpu), 1e-3f * MaxAbs(cpu));
  const Plane k = TrueKernel();
  Plane cpuLatent = OldLatent(l.blurred.size()), deviceLatent = cpuLatent;
  const bool cpuOk = UpdateLatentImage(k.data(), cpuLatent.data(), l.spectra, l.rows, l.cols, l.kr,
                                       l.kc, kWtIreg, true);
  EXPECT_EQ(l.steps->UpdateLatentImage(k.data(), deviceLatent.data(), l.kr, l.kc, kWtIreg, true),
            cpuOk);
  EXPECT_LE(MaxDifference(deviceLatent, cpuLatent), 1e-4f);
}

}  // namespace
