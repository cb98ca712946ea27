// Transform conventions, single-precision size helpers and resampling.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "pipeline/resample.h"
#include "pipeline/spectral.h"

using namespace velmora;

namespace {

// Inverse transform of a spectrum, real parts / N.
std::vector<float> SpatialTaps(fftwf_complex* spectrum, int rows, int cols) {
  ComplexArray out(GridSize(rows, cols));
  Fft2d(spectrum, out.get(), rows, cols, FFTW_BACKWARD);
  std::vector<float> taps(GridSize(rows, cols));
  for (size_t i = 0; i < taps.size(); ++i) taps[i] = out[i][0] / static_cast<float>(taps.size());
  return taps;
}

std::vector<float> RandomPlane(int rows, int cols, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::vector<float> p(GridSize(rows, cols));
  for (float& v : p) v = u(rng);
  return p;
}

}  // namespace

TEST(KernelToSpectrum, UnitTapGivesFlatSpectrum) {
  const float one = 1.0f;
  const float centred[9] = {0, 0, 0, 0, 0.5f, 0, 0, 0, 0};
  ComplexArray a(GridSize(8, 6)), b(GridSize(8, 6));
  KernelToSpectrum(&one, a.get(), 8, 6, 1, 1);
  KernelToSpectrum(centred, b.get(), 8, 6, 3, 3);
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_FLOAT_EQ(a[i][0], 1.0f);
    EXPECT_FLOAT_EQ(a[i][1], 0.0f);
    EXPECT_FLOAT_EQ(b[i][0], 0.5f);
    EXPECT_NEAR(b[i][1], 0.0f, 1e-7f);
  }
}

TEST(KernelToSpectrum, CentreLandsOnOriginAndOthersWrap) {
  const float k[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  ComplexArray s(16);
  KernelToSpectrum(k, s.get(), 4, 4, 3, 3);
  const std::vector<float> g = SpatialTaps(s.get(), 4, 4);
  EXPECT_NEAR(g[3 * 4 + 3], 1.0f, 1e-5f);  // tap (0, 0)
  EXPECT_NEAR(g[1 * 4 + 1], 9.0f, 1e-5f);  // tap (2, 2)
  EXPECT_NEAR(g[0], 5.0f, 1e-5f);          // centre tap
  EXPECT_NEAR(g[0 * 4 + 3], 4.0f, 1e-5f);  // tap (1, 0)
  EXPECT_NEAR(g[2 * 4 + 2], 0.0f, 1e-5f);  // untouched
}

TEST(KernelToSpectrum, EvenDifferenceIsForwardDifference) {
  // Multiplying by the spectrum of [1, -1] computes x(j + 1) - x(j).
  const float diff[2] = {1, -1};
  const int rows = 4, cols = 8;
  const std::vector<float> x = RandomPlane(rows, cols, 3);
  ComplexArray k(32), in(32), fx(32);
  KernelToSpectrum(diff, k.get(), rows, cols, 1, 2);
  RealToComplex(x.data(), in.get(), 32);
  Fft2d(in.get(), fx.get(), rows, cols, FFTW_FORWARD);
  for (size_t i = 0; i < 32; ++i) {
    const float re = fx[i][0] * k[i][0] - fx[i][1] * k[i][1];
    const float im = fx[i][0] * k[i][1] + fx[i][1] * k[i][0];
    fx[i][0] = re;
    fx[i][1] = im;
  }
  const std::vector<float> d = SpatialTaps(fx.get(), rows, cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      EXPECT_NEAR(d[i * cols + j], x[i * cols + (j + 1) % cols] - x[i * cols + j], 1e-5f);
}

TEST(SinglePrecisionHelpers, PowersAndSizes) {
  EXPECT_EQ(PowInt(0.5f, 3), 0.125f);
  EXPECT_EQ(PowInt(0.7f, 0), 1.0f);
  EXPECT_EQ(PowInt(2.0f, -2), 0.25f);
  // Repeated squaring: 0.618^5 = 0.618 x (0.618^2)^2, each product rounded.
  const float x = 0.618f, x2 = x * x, x4 = x2 * x2;
  EXPECT_EQ(PowInt(x, 5), x * x4);
  EXPECT_EQ(ScaledSize(5, 0.5f), 3);
  EXPECT_EQ(ScaledSize(7, 0.5f), 4);
  EXPECT_EQ(ScaledSize(100, 1.0f), 100);
  EXPECT_EQ(CeilF(2.0f), 2.0f);
  EXPECT_EQ(FloorF(-0.5f), -1.0f);
}

TEST(ResampleTable, ShrinkByHalfHasSixNormalisedTaps) {
  const ResampleTable t = BuildResampleTable(7, 4, 0.5f, true, false);
  EXPECT_EQ(t.taps, 6);
  for (int o = 0; o < 4; ++o) {
    float sum = 0;
    for (int p = 0; p < 6; ++p) {
      sum += t.weight[o * 6 + p];
      EXPECT_GE(t.index[o * 6 + p], 0);
      EXPECT_LE(t.index[o * 6 + p], 6);
    }
    EXPECT_NEAR(sum, 1.0f, 1e-6f);
  }
  // 19 -> 11 (a kernel for a coarser level) uses width 2 / (11 / 19).
  EXPECT_EQ(BuildResampleTable(19, 11, 11.0f / 19.0f, true, false).taps, 6);
  EXPECT_EQ(BuildResampleTable(10, 20, 2.0f, false, true).taps, 4);
}

TEST(ResizeByScale, SizesAndIdentity) {
  const std::vector<float> src = RandomPlane(5, 7, 1);
  std::vector<float> half(3 * 4);
  ResizeByScale(src.data(), half.data(), 5, 7, 0.5f);
  for (float v : half) {
    EXPECT_GE(v, 0.0f);
    EXPECT_LE(v, 1.0f);
  }
  std::vector<float> same(src.size());
  ResizeByScale(src.data(), same.data(), 5, 7, 1.0f);
  EXPECT_EQ(same, src);
}

TEST(ResizeToSize, EnlargingIsBilinearWithReplicatedBorder) {
  const std::vector<float> src = RandomPlane(10, 10, 2);
  std::vector<float> big(400);
  ResizeToSize(src.data(), big.data(), 10, 10, 20, 20);
  EXPECT_FLOAT_EQ(big[0], src[0]);
  // Output 1 has centre 0.25: three quarters of sample 0, one quarter of 1.
  EXPECT_NEAR(big[1], 0.75f * src[0] + 0.25f * src[1], 1e-6f);
  EXPECT_NEAR(big[20], 0.75f * src[0] + 0.25f * src[10], 1e-6f);
  EXPECT_FLOAT_EQ(big[399], src[99]);
}

TEST(Resampling, ConstantStaysConstant) {
  const std::vector<float> flat(GridSize(37, 23), 0.37f);
  for (auto [r, c] : {std::pair{11, 40}, {37, 12}, {5, 5}, {80, 23}}) {
    std::vector<float> out(GridSize(r, c));
    ResizeToSize(flat.data(), out.data(), 37, 23, r, c);
    for (float v : out) ASSERT_NEAR(v, 0.37f, 1e-6f) << r << "x" << c;
  }
  for (float s : {0.618f, 0.382f, 0.25f, 1.7f}) {
    std::vector<float> out(GridSize(ScaledSize(37, s), ScaledSize(23, s)));
    ResizeByScale(flat.data(), out.data(), 37, 23, s);
    for (float v : out) ASSERT_NEAR(v, 0.37f, 1e-6f) << s;
  }
}
