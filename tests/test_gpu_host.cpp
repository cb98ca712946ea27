// The host side of the GPU path, which runs on any machine: launch geometry,
// the texture emulation the element tests read through, the fault lines and
// the GPU switch, and the staging, reduction, clipping and scheduling helpers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <complex>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "pipeline/spectral.h"
#include "src/gpu_check.h"
#include "src/gpu_elements.cuh"
#include "src/gpu_host.h"
#include "src/gpu_launch.h"
#include "tests/seeded.h"

using namespace velmora;
using namespace velmora::gpu;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::vector<float> RandomPlane(size_t n, unsigned seed, float lo = -1.0f, float hi = 1.0f) {
  return test_inputs::Random(n, seed, lo, hi);
}

// A forward transform of a complex host grid with the CPU's transforms.
std::vector<std::complex<float>> Transform(const std::vector<Float2>& grid, int rows, int cols,
                                           int sign) {
  const size_t n = GridSize(rows, cols);
  ComplexArray in(n), out(n);
  for (size_t i = 0; i < n; ++i) {
    in[i][0] = grid[i].x;
    in[i][1] = grid[i].y;
  }
  Fft2d(in.get(), out.get(), rows, cols, sign);
  std::vector<std::complex<float>> result(n);
  for (size_t i = 0; i < n; ++i) result[i] = {out[i][0], out[i][1]};
  return result;
}

std::vector<std::complex<float>> CpuKernelSpectrum(const std::vector<float>& kernel, int kr,
                                                   int kc, int rows, int cols) {
  const size_t n = GridSize(rows, cols);
  ComplexArray spectrum(n);
  KernelToSpectrum(kernel.data(), spectrum.get(), rows, cols, kr, kc);
  std::vector<std::complex<float>> result(n);
  for (size_t i = 0; i < n; ++i) result[i] = {spectrum[i][0], spectrum[i][1]};
  return result;
}

double SumAbs(const std::vector<float>& v) {
  double s = 0.0;
  for (float x : v) s += std::abs(x);
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Launch geometry

TEST(GpuLaunch, GridCoversEverySizeWithoutAnIdleBlock) {
  const unsigned sides[] = {1, 15, 16, 17, 31, 32, 33, 4097, 16384};
  for (unsigned rows : sides)
    for (unsigned cols : sides) {
      const LaunchShape s = Launch2d(rows, cols);
      EXPECT_EQ(s.blockX, 16u);
      EXPECT_EQ(s.blockY, 16u);
      // Enough blocks for the last element, and the last block still has one.
      EXPECT_GE(static_cast<unsigned long>(s.gridX) * s.blockX, cols) << rows << " x " << cols;
      EXPECT_LT(static_cast<unsigned long>(s.gridX - 1) * s.blockX, cols) << rows << " x " << cols;
      EXPECT_GE(static_cast<unsigned long>(s.gridY) * s.blockY, rows) << rows << " x " << cols;
      EXPECT_LT(static_cast<unsigned long>(s.gridY - 1) * s.blockY, rows) << rows << " x " << cols;
    }
  // Nothing to launch for an empty grid.
  EXPECT_EQ(Launch2d(0, 5).gridY, 0u);
  EXPECT_EQ(Launch2d(5, 0).gridX, 0u);
}

TEST(GpuLaunch, EveryThreadOfSmallGridsRunsEachElementOnce) {
  const unsigned sides[] = {1, 15, 16, 17, 33};
  for (unsigned rows : sides)
    for (unsigned cols : sides) {
      const LaunchShape s = Launch2d(rows, cols);
      std::vector<int> visits(static_cast<size_t>(rows) * cols, 0);
      for (unsigned by = 0; by < s.gridY; ++by)
        for (unsigned bx = 0; bx < s.gridX; ++bx) {
          int active = 0;
          for (unsigned ty = 0; ty < s.blockY; ++ty)
            for (unsigned tx = 0; tx < s.blockX; ++tx) {
              const unsigned x = bx * s.blockX + tx, y = by * s.blockY + ty;
              const bool inside = x < cols && y < rows;
              ASSERT_EQ(InGrid(x, y, rows, cols), inside) << x << ", " << y;
              if (!InGrid(x, y, rows, cols)) continue;
              ++active;
              ++visits[static_cast<size_t>(y) * cols + x];
            }
          EXPECT_GT(active, 0) << "block " << bx << ", " << by << " of " << rows << " x " << cols;
        }
      EXPECT_TRUE(std::all_of(visits.begin(), visits.end(), [](int v) { return v == 1; }))
          << rows << " x " << cols;
    }
}

TEST(GpuLaunch, LastBlocksOfLargeGridsStopAtTheEdge) {
  // Too many threads to run them all: the partial last block row and column
  // decide, and they are checked thread by thread.
  const unsigned sides[] = {4097, 16384};
  for (unsigned rows : sides)
    for (unsigned cols : sides) {
      const LaunchShape s = Launch2d(rows, cols);
      const unsigned lastX = (s.gridX - 1) * s.blockX, lastY = (s.gridY - 1) * s.blockY;
      unsigned insideX = 0, insideY = 0;
      for (unsigned t = 0; t < s.blockX; ++t) {
        insideX += InGrid(lastX + t, 0, rows, cols);
        insideY += InGrid(0, lastY + t, rows, cols);
        // Out of range in one coordinate is out, whatever the other is.
        EXPECT_EQ(InGrid(lastX + t, lastY + t, rows, cols), lastX + t < cols && lastY + t < rows);
      }
      EXPECT_EQ(insideX, cols - lastX);
      EXPECT_EQ(insideY, rows - lastY);
    }
  // The coordinates are not interchangeable on a non-square grid.
  EXPECT_TRUE(InGrid(4096, 0, 1, 4097));
  EXPECT_FALSE(InGrid(0, 4096, 1, 4097));
}

// ---------------------------------------------------------------------------
// Texture emulation

TEST(GpuTexture, ReadsClampToTheEdges) {
  const unsigned rows = 3, cols = 4;
  std::vector<float> data(rows * cols);
  for (unsigned i = 0; i < data.size(); ++i) data[i] = static_cast<float>(i);
  const HostTexture<float> tex{data.data(), rows, cols};
  for (unsigned y = 0; y < rows; ++y)
    for (unsigned x = 0; x < cols; ++x) EXPECT_EQ(tex(x, y), data[y * cols + x]);
  EXPECT_EQ(tex(-1.0f, 1.0f), data[1 * cols + 0]);
  EXPECT_EQ(tex(-0.5f, 1.0f), data[1 * cols + 0]);
  EXPECT_EQ(tex(4.0f, 1.0f), data[1 * cols + 3]);
  EXPECT_EQ(tex(1000.0f, 1000.0f), data[2 * cols + 3]);
  EXPECT_EQ(tex(2.0f, -7.0f), data[0 * cols + 2]);
  EXPECT_EQ(tex(2.0f, 3.0f), data[2 * cols + 2]);
  // Point sampling: a fractional coordinate reads the texel it falls in.
  EXPECT_EQ(tex(2.75f, 1.5f), data[1 * cols + 2]);
  EXPECT_EQ(tex(3.999f, 0.0f), data[3]);
  EXPECT_EQ(ClampedTexel(kNaN, 5), 0u);
}

TEST(GpuTexture, UnsignedStepLeftOfZeroReadsTheLastTexel) {
  const unsigned rows = 5, cols = 7;
  std::vector<float> data = RandomPlane(rows * cols, 3);
  const HostTexture<float> tex{data.data(), rows, cols};
  for (unsigned y = 0; y < rows; ++y) {
    const unsigned x = 0;
    const unsigned left = x - 1;  // wraps to the largest unsigned value
    EXPECT_EQ(tex(static_cast<float>(left), static_cast<float>(y)), data[y * cols + cols - 1]);
  }
  for (unsigned x = 0; x < cols; ++x) {
    const unsigned y = 0;
    const unsigned up = y - 1;
    EXPECT_EQ(tex(static_cast<float>(x), static_cast<float>(up)), data[(rows - 1) * cols + x]);
  }
  EXPECT_EQ(ClampedTexel(static_cast<float>(0u - 1u), 16384), 16383u);
}

TEST(GpuTexture, PlanesOfAStackAreSeparate) {
  const unsigned rows = 2, cols = 3, planes = 3;
  std::vector<Float2> data(rows * cols * planes);
  for (unsigned i = 0; i < data.size(); ++i) data[i] = MakeFloat2(static_cast<float>(i), -1.0f);
  const HostTexture<Float2> tex{data.data(), rows, cols};
  for (unsigned p = 0; p < planes; ++p) {
    EXPECT_EQ(tex(1.0f, 1.0f, static_cast<float>(p)).x, static_cast<float>(p * 6 + 4));
    // Clamping stays inside the plane.
    EXPECT_EQ(tex(9.0f, 9.0f, static_cast<float>(p)).x, static_cast<float>(p * 6 + 5));
    EXPECT_EQ(tex(-1.0f, -1.0f, static_cast<float>(p)).x, static_cast<float>(p * 6));
  }
}

// ---------------------------------------------------------------------------
// Fault lines and the GPU switch

TEST(GpuCheck, LinesFollowTheRuntimeCheckFormats) {
  char expected[512];
  std::snprintf(expected, sizeof expected, "%s(%i) : cudaSafeCall() Runtime API error %d: %s.\n",
                "src/cupadimage.cu", 97, 2, "out of memory");
  EXPECT_EQ(SafeCallLine("src/cupadimage.cu", 97, 2, "out of memory") + "\n", expected);

  std::snprintf(expected, sizeof expected,
                "%s(%i) : cutilCheckMsg() CUTIL CUDA error : %s : (%d) %s.\n",
                "src/fast_deconv_cuda.cu", 1203, "Insufficient Memory! \n", 2, "out of memory");
  EXPECT_EQ(CheckMsgLine("src/fast_deconv_cuda.cu", 1203, "Insufficient Memory! \n", 2,
                         "out of memory") +
                "\n",
            expected);

  // Negative codes and long texts pass through unchanged.
  const std::string text(300, 'x');
  const std::string line = SafeCallLine("f", -1, -35, text.c_str());
  EXPECT_EQ(line, "f(-1) : cudaSafeCall() Runtime API error -35: " + text + ".");

  const std::string cufft = CufftLine("src/cupadimage.cu", 12, 5, "cufftExecC2C");
  EXPECT_NE(cufft.find("src/cupadimage.cu(12)"), std::string::npos) << cufft;
  EXPECT_NE(cufft.find("cufftExecC2C"), std::string::npos) << cufft;
  EXPECT_NE(cufft.find(" 5 "), std::string::npos) << cufft;
}

TEST(GpuCheck, FailReportsSwitchesOffAndThrows) {
  ResetGpuSwitch();
  ASSERT_FALSE(GpuDisabled());
  const std::string first = SafeCallLine("src/cupadimage.cu", 40, 2, "out of memory");
  testing::internal::CaptureStderr();
  bool thrown = false;
  try {
    Fail(first);
  } catch (const GpuFault& fault) {
    thrown = true;
    EXPECT_EQ(std::string(fault.what()), first);
  }
  const std::string written = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(thrown);
  EXPECT_EQ(written, first + "\n");
  EXPECT_TRUE(GpuDisabled());
  EXPECT_EQ(GpuDisabledReason(), first);

  // A later fault is reported too, but the first cause is kept.
  const std::string second = CheckMsgLine("src/cupadimage.cu", 50, "Insufficient Memory! \n", 2,
                                          "out of memory");
  testing::internal::CaptureStderr();
  EXPECT_THROW(Fail(second), GpuFault);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), second + "\n");
  EXPECT_EQ(GpuDisabledReason(), first);

  ResetGpuSwitch();
  EXPECT_FALSE(GpuDisabled());
  EXPECT_EQ(GpuDisabledReason(), "");
  DisableGpu("self-check failed");
  EXPECT_TRUE(GpuDisabled());
  EXPECT_EQ(GpuDisabledReason(), "self-check failed");
  ResetGpuSwitch();
}

// ---------------------------------------------------------------------------
// Staging grids

TEST(GpuStaging, PlacedKernelTransformsToTheCpuSpectrum) {
  struct Case {
    int kr, kc, rows, cols;
  };
  // Odd and even grids, a single tap, filters of one row or column, an even
  // width (the CPU's convention puts tap kc / 2 at the origin there too) and
  // a kernel wider than half the grid.
  const Case cases[] = {{5, 7, 16, 24}, {1, 1, 9, 7},  {3, 1, 8, 5},  {1, 5, 7, 12},
                        {9, 9, 33, 31}, {1, 2, 6, 10}, {5, 5, 3, 3}, {3, 3, 4, 4}};
  unsigned seed = 11;
  for (const Case& c : cases) {
    const std::vector<float> kernel = RandomPlane(GridSize(c.kr, c.kc), ++seed, 0.0f, 1.0f);
    std::vector<Float2> grid(GridSize(c.rows, c.cols), MakeFloat2(kNaN, kNaN));
    PlaceKernelWrapped(kernel.data(), c.kr, c.kc, c.rows, c.cols, grid.data());
    const auto gpu = Transform(grid, c.rows, c.cols, FFTW_FORWARD);
    const auto cpu = CpuKernelSpectrum(kernel, c.kr, c.kc, c.rows, c.cols);
    // Both are single-precision transforms of the same taps (complex on one
    // side, real with conjugate symmetry on the other), so they agree to a
    // few units of rounding of the largest possible value, the sum of |taps|.
    const double bound = 1e-6 * SumAbs(kernel);
    double worst = 0.0;
    for (size_t i = 0; i < gpu.size(); ++i) worst = std::max(worst, double(std::abs(gpu[i] - cpu[i])));
    EXPECT_LE(worst, bound) << c.kr << " x " << c.kc << " on " << c.rows << " x " << c.cols;
  }
}

TEST(GpuStaging, PlacementPutsTheCentreAtTheOriginAndClearsTheRest) {
  // 3 x 3 on 4 x 4: tap (0, 0) at (3, 3), (2, 2) at (1, 1), (1, 1) at (0, 0).
  std::vector<float> kernel(9);
  for (int i = 0; i < 9; ++i) kernel[i] = static_cast<float>(i + 1);
  std::vector<Float2> grid(16, MakeFloat2(kNaN, kNaN));
  PlaceKernelWrapped(kernel.data(), 3, 3, 4, 4, grid.data());
  EXPECT_EQ(grid[3 * 4 + 3].x, kernel[0]);
  EXPECT_EQ(grid[1 * 4 + 1].x, kernel[8]);
  EXPECT_EQ(grid[0].x, kernel[4]);
  float sum = 0.0f;
  int nonZero = 0;
  for (const Float2& v : grid) {
    EXPECT_EQ(v.y, 0.0f);
    sum += v.x;
    nonZero += v.x != 0.0f;
  }
  EXPECT_EQ(nonZero, 9);
  EXPECT_EQ(sum, 45.0f);
  // Row 2 and column 2 lie between the wrapped taps and the centre: empty.
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(grid[2 * 4 + k].x, 0.0f);
    EXPECT_EQ(grid[k * 4 + 2].x, 0.0f);
  }
}

TEST(GpuStaging, CutUndoesPlaceWithTheGridFactor) {
  const int kr = 7, kc = 5, rows = 24, cols = 18;
  const float count = static_cast<float>(rows * cols);
  const std::vector<float> kernel = RandomPlane(kr * kc, 21);
  std::vector<Float2> grid(GridSize(rows, cols));
  PlaceKernelWrapped(kernel.data(), kr, kc, rows, cols, grid.data());
  std::vector<float> cut(kernel.size(), kNaN);
  CutKernelWrapped(grid.data(), rows, cols, kr, kc, cut.data());
  for (size_t i = 0; i < kernel.size(); ++i)
    // Divided by the count and multiplied by it again: two roundings.
    EXPECT_NEAR(cut[i] * count, kernel[i], 2.0 * FLT_EPSILON * std::abs(kernel[i])) << i;

  // Through the transforms, as the kernel solve does it: forward, inverse
  // (unnormalised), cut: the kernel comes back within transform rounding.
  const auto spectrum = Transform(grid, rows, cols, FFTW_FORWARD);
  std::vector<Float2> spectral(spectrum.size());
  for (size_t i = 0; i < spectrum.size(); ++i)
    spectral[i] = MakeFloat2(spectrum[i].real(), spectrum[i].imag());
  const auto back = Transform(spectral, rows, cols, FFTW_BACKWARD);
  std::vector<Float2> spatial(back.size());
  for (size_t i = 0; i < back.size(); ++i) spatial[i] = MakeFloat2(back[i].real(), back[i].imag());
  CutKernelWrapped(spatial.data(), rows, cols, kr, kc, cut.data());
  for (size_t i = 0; i < kernel.size(); ++i)
    // A pair of single-precision transforms of 432 points: a few units of
    // rounding of the taps' total magnitude.
    EXPECT_NEAR(cut[i], kernel[i], 1e-6 * SumAbs(kernel)) << i;
}

TEST(GpuStaging, HalfSpectrumExpandsToTheFullTransform) {
  const std::pair<int, int> sizes[] = {{6, 8}, {7, 9}, {6, 9}, {7, 8}, {1, 5}, {5, 1}, {1, 1}, {16, 17}};
  unsigned seed = 30;
  for (auto [rows, cols] : sizes) {
    const std::vector<float> plane = RandomPlane(GridSize(rows, cols), ++seed);
    const int half = HalfCols(cols);
    FloatArray in(GridSize(rows, cols));
    std::copy(plane.begin(), plane.end(), in.get());
    ComplexArray packed(GridSize(rows, half));
    RealFft2d(in.get(), packed.get(), rows, cols);
    std::vector<Float2> full(GridSize(rows, cols), MakeFloat2(kNaN, kNaN));
    ExpandHalfSpectrum(reinterpret_cast<const float*>(packed.get()), rows, cols, full.data());

    std::vector<Float2> staged(plane.size());
    RealToComplex(plane.data(), plane.size(), staged.data());
    for (const Float2& v : staged) ASSERT_EQ(v.y, 0.0f);
    const auto reference = Transform(staged, rows, cols, FFTW_FORWARD);
    // Two single-precision transforms of the same plane: within a few units
    // of rounding of sum |x|, the largest a coefficient can be.
    const double bound = 1e-6 * SumAbs(plane);
    for (size_t i = 0; i < full.size(); ++i)
      ASSERT_LE(std::abs(std::complex<float>(full[i].x, full[i].y) - reference[i]), bound)
          << rows << " x " << cols << " at " << i;
  }
}

TEST(GpuStaging, HalfRealExpandsByPointSymmetry) {
  // g(i, j) = min(u, N - u) with u = (i cols + j rows) mod N is even under
  // (i, j) -> (-i, -j) but not under either alone, so only the joint mirror
  // reproduces it, and exactly.
  const std::pair<int, int> sizes[] = {{6, 8}, {7, 9}, {6, 9}, {7, 8}, {1, 6}, {5, 1}};
  for (const auto& size : sizes) {
    const int rows = size.first, cols = size.second;  // plain names a lambda can capture
    const int n = rows * cols, half = HalfCols(cols);
    auto g = [&](int i, int j) {
      const int u = (i * cols + j * rows) % n;
      return static_cast<float>(std::min(u, n - u));
    };
    std::vector<float> packed(GridSize(rows, half));
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < half; ++j) packed[GridSize(i, half) + j] = g(i, j);
    std::vector<float> full(GridSize(rows, cols), kNaN);
    ExpandHalfReal(packed.data(), rows, cols, full.data());
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < cols; ++j)
        ASSERT_EQ(full[GridSize(i, cols) + j], g(i, j)) << rows << " x " << cols << " at " << i << ", " << j;
  }
}

TEST(GpuStaging, PaddedGridHoldsThePlaneAtItsOffset) {
  const int rows = 3, cols = 4, padRows = 7, padCols = 9, top = 2, left = 3;
  const std::vector<float> plane = RandomPlane(rows * cols, 40, 0.5f, 1.0f);
  std::vector<Float2> grid(GridSize(padRows, padCols), MakeFloat2(kNaN, kNaN));
  PlaceInPaddedComplexGrid(plane.data(), rows, cols, padRows, padCols, top, left, grid.data());
  for (int r = 0; r < padRows; ++r)
    for (int c = 0; c < padCols; ++c) {
      const Float2 v = grid[GridSize(r, padCols) + c];
      const bool inside = r >= top && r < top + rows && c >= left && c < left + cols;
      EXPECT_EQ(v.x, inside ? plane[GridSize(r - top, cols) + c - left] : 0.0f) << r << ", " << c;
      EXPECT_EQ(v.y, 0.0f);
    }
}

// ---------------------------------------------------------------------------
// Host reductions and rules

TEST(GpuHostRules, SmallestPositiveSkipsZerosNegativesAndNaN) {
  const float mixed[] = {0.0f, -1.0f, kNaN, 3.0f, 0.5f, -0.0f, 2.0f, INFINITY, -1e-30f};
  EXPECT_EQ(SmallestPositive(mixed, std::size(mixed)), 0.5f);
  const float tiny[] = {1.0f, FLT_TRUE_MIN, 0.0f};
  EXPECT_EQ(SmallestPositive(tiny, std::size(tiny)), FLT_TRUE_MIN);
  const float none[] = {0.0f, -0.0f, -2.0f, kNaN, -INFINITY};
  EXPECT_EQ(SmallestPositive(none, std::size(none)), FLT_MAX);
  EXPECT_EQ(SmallestPositive(none, 0), FLT_MAX);
  const float onlyHuge[] = {INFINITY};
  EXPECT_EQ(SmallestPositive(onlyHuge, 1), FLT_MAX);

  // A random grid with holes: the minimum over its positive entries.
  std::vector<float> v = RandomPlane(4096, 50, -1.0f, 1.0f);
  for (size_t i = 0; i < v.size(); i += 7) v[i] = 0.0f;
  for (size_t i = 3; i < v.size(); i += 11) v[i] = kNaN;
  float expected = INFINITY;
  for (float x : v)
    if (std::isfinite(x) && x > 0.0f) expected = std::min(expected, x);
  EXPECT_EQ(SmallestPositive(v.data(), v.size()), expected);
}

TEST(GpuHostRules, LatentClipRuleIsOneSidedByOldValue) {
  struct Case {
    float old, inverse;   // inverse is the unscaled real part
    float expected;       // the new latent value
    bool counted, clipped;
  };
  const float normal = 0.25f;
  const Case cases[] = {
      {0.5f, 4.8f, 1.0f, true, true},      // dark enough: clipped from above
      {0.5f, -1.2f, -0.3f, true, false},   // ... but negatives stay
      {0.1f, -2.0f, -0.5f, true, false},   // 0.1 is below 0.9: the upper rule
      {-3.0f, 8.0f, 1.0f, true, true},
      {0.95f, 5.2f, 1.3f, true, false},    // bright: values above 1 stay
      {0.95f, -0.8f, 0.0f, true, true},    // ... and negatives are clipped
      {0.9f, -0.4f, 0.0f, true, true},     // 0.9 itself takes the lower rule
      {7.0f, 2.0f, 0.5f, true, false},
      {kNaN, 8.0f, 2.0f, false, false},    // not counted, not clipped
      {kNaN, -8.0f, -2.0f, false, false},
      {0.5f, 4.0f, 1.0f, true, false},     // exactly 1 is not clipped
      {0.95f, 0.0f, 0.0f, true, false},    // nor exactly 0
  };
  std::vector<Float2> inverse;
  std::vector<float> latent;
  size_t counted = 0, clipped = 0;
  for (const Case& c : cases) {
    inverse.push_back(MakeFloat2(c.inverse, 123.0f));  // imaginary parts are ignored
    latent.push_back(c.old);
    counted += c.counted;
    clipped += c.clipped;
  }
  const ClipCounts counts = ApplyLatentClipRule(inverse.data(), normal, latent.size(), latent.data());
  for (size_t i = 0; i < latent.size(); ++i) EXPECT_EQ(latent[i], cases[i].expected) << i;
  EXPECT_EQ(counts.counted, counted);
  EXPECT_EQ(counts.clipped, clipped);
}

TEST(GpuHostRules, EveryNonNaNPixelIsCountedAndTheFifthDecides) {
  std::vector<float> latent = RandomPlane(1000, 60, -0.5f, 1.5f);
  size_t valid = 0;
  for (size_t i = 0; i < latent.size(); ++i) {
    if (i % 9 == 0) latent[i] = kNaN;
    valid += !std::isnan(latent[i]);
  }
  const std::vector<float> values = RandomPlane(latent.size(), 61, -2.0f, 3.0f);
  std::vector<Float2> inverse(values.size());
  for (size_t i = 0; i < values.size(); ++i) inverse[i] = MakeFloat2(values[i], 0.0f);
  const ClipCounts counts = ApplyLatentClipRule(inverse.data(), 1.0f, latent.size(), latent.data());
  EXPECT_EQ(counts.counted, valid);
  EXPECT_LE(counts.clipped, counts.counted);

  EXPECT_FALSE(TooManyClipped({5, 1}));  // exactly a fifth is not more
  EXPECT_TRUE(TooManyClipped({5, 2}));
  EXPECT_FALSE(TooManyClipped({0, 0}));
  EXPECT_FALSE(TooManyClipped({1000, 200}));
  EXPECT_TRUE(TooManyClipped({1000, 201}));
}

TEST(GpuHostRules, StepSchedulesOfTheStatedWeights) {
  EXPECT_EQ(GpuStepCount(0.0004f), 10);  // thresholds 1 down to 1/512
  EXPECT_EQ(GpuStepCount(0.0015f), 11);  // float(1 / lambda) x lambda starts just above 1
  EXPECT_EQ(GpuStepCount(1.0f), 4);      // t = 1, 0.5, 0.25, 0.125
  EXPECT_EQ(GpuStepCount(0.04f), 8);     // t > 0.1 ends it: 25 down to 0.1953125
  EXPECT_EQ(GpuStepCount(0.4f), 5);      // 2.5 down to 0.15625
  EXPECT_EQ(GpuStepCount(20.0f), 0);     // 1 / lambda is already below 0.1

  // The first and last steps of lambda = 0.0004: t = 2500 and 4.8828125.
  EXPECT_TRUE(GpuStepContinues(1.0f / 0.0004f, 0.0004f));
  EXPECT_TRUE(GpuStepContinues(4.8828125f, 0.0004f));
  EXPECT_FALSE(GpuStepContinues(4.8828125f * 0.5f, 0.0004f));
  // t = 0.1 itself does not step.
  EXPECT_FALSE(GpuStepContinues(0.1f, 1.0f));
}

TEST(GpuHostRules, FitMessageNamesTheLimitThatIsExceeded) {
  const int rows = 1024, cols = 2048;
  const size_t needed = GpuJobBytes(rows, cols);
  // The solve holds at least the four colour planes (estimate, two fields,
  // observed image) of 16 bytes per pixel, and grows with the canvas.
  EXPECT_GE(needed, size_t(64) * rows * cols);
  EXPECT_GT(GpuJobBytes(rows, 2 * cols), needed);
  EXPECT_GT(GpuJobBytes(2 * rows, cols), needed);

  DeviceLimits roomy{2048, needed};
  EXPECT_EQ(GpuFitMessage(rows, cols, roomy), "");  // a side equal to the limit fits

  DeviceLimits narrow{2047, needed * 4};
  const std::string side = GpuFitMessage(rows, cols, narrow);
  EXPECT_NE(side.find("2048 x 1024"), std::string::npos) << side;
  EXPECT_NE(side.find("2047"), std::string::npos) << side;
  EXPECT_NE(side.find("CPU"), std::string::npos) << side;
  // Rows count as a side too.
  EXPECT_NE(GpuFitMessage(cols, rows, narrow), "");

  DeviceLimits small{16384, needed - 1};
  const std::string memory = GpuFitMessage(rows, cols, small);
  EXPECT_NE(memory.find("MiB"), std::string::npos) << memory;
  EXPECT_NE(memory.find("CPU"), std::string::npos) << memory;
  char neededText[32];
  std::snprintf(neededText, sizeof neededText, "%.0f MiB", needed / 1048576.0);
  EXPECT_NE(memory.find(neededText), std::string::npos) << memory;
}
