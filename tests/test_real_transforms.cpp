// The iterative steps transform real planes through half spectra. Each is
// checked against a plain complex-to-complex version of the same step (the
// gold routine) by its largest error relative to the plane's range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "pipeline/pad_image.h"
#include "pipeline/spectral.h"
#include "pipeline/tv_common.h"
#include "pipeline/tv_deconv.h"

using namespace velmora;

namespace {

constexpr float kRelativeBound = 2e-5f;

std::vector<float> Random(size_t n, unsigned seed, float lo = 0.0f, float hi = 1.0f) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(lo, hi);
  std::vector<float> p(n);
  for (float& v : p) v = u(rng);
  return p;
}

float MaxDifference(const std::vector<float>& a, const std::vector<float>& b) {
  float m = 0;
  for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::abs(a[i] - b[i]));
  return m;
}

// Full forward transform, per-frequency map, full inverse, real part / N.
template <typename Map>
std::vector<float> GoldFilter(const std::vector<float>& plane, int rows, int cols, Map map) {
  const size_t n = GridSize(rows, cols);
  ComplexArray a(n), b(n);
  RealToComplex(plane.data(), a.get(), n);
  Fft2d(a.get(), b.get(), rows, cols, FFTW_FORWARD);
  for (size_t k = 0; k < n; ++k) map(k, b[k]);
  Fft2d(b.get(), a.get(), rows, cols, FFTW_BACKWARD);
  std::vector<float> out(n);
  for (size_t k = 0; k < n; ++k) out[k] = a[k][0] / static_cast<float>(n);
  return out;
}

}  // namespace

TEST(RealTransforms, HalfSpectrumAndRoundTrip) {
  for (auto [rows, cols] : {std::pair{8, 12}, {9, 7}, {16, 33}}) {
    std::vector<float> x = Random(GridSize(rows, cols), rows * cols);
    const size_t n = x.size();
    ComplexArray full(n), in(n), half(GridSize(rows, HalfCols(cols)));
    RealToComplex(x.data(), in.get(), n);
    Fft2d(in.get(), full.get(), rows, cols, FFTW_FORWARD);
    RealFft2d(x.data(), half.get(), rows, cols);
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < HalfCols(cols); ++j)
        for (int c = 0; c < 2; ++c)
          ASSERT_NEAR(half[GridSize(i, HalfCols(cols)) + j][c], full[GridSize(i, cols) + j][c], 1e-4f);
    ComplexArray expanded(n);
    RealSpectrum(x.data(), expanded.get(), rows, cols);
    for (size_t k = 0; k < n; ++k)
      for (int c = 0; c < 2; ++c) ASSERT_NEAR(expanded[k][c], full[k][c], 1e-4f) << rows << "x" << cols;
    std::vector<float> back(n);
    InverseRealFft2d(half.get(), back.data(), rows, cols);
    for (size_t k = 0; k < n; ++k) ASSERT_NEAR(back[k] / n, x[k], 1e-6f);
  }
}

TEST(RealTransforms, RefinementStepMatchesGold) {
  const int rows = 48, cols = 70;
  const std::vector<float> kernel = Random(5 * 7, 11);
  PaddingSpectra s;
  BuildPaddingSpectra(kernel.data(), cols, rows, 7, 5, &s);
  const std::vector<float> plane = Random(GridSize(rows, cols), 12);
  std::vector<float> gold = GoldFilter(plane, rows, cols, [&](size_t k, fftwf_complex& b) {
    const float fr = s.FreqF[k][0], fi = s.FreqF[k][1], w = s.FreqWt[k][0];
    const float den1 = w * s.FreqF2[k][0] + 0.002f * s.FreqDerrs[k][0];
    const float qr = (fr * b[0] + fi * b[1]) * w / den1, qi = w * (fr * b[1] - b[0] * fi) / den1;
    const float den2 = w + s.FreqDerrs[k][0] * 0.1f;
    b[0] = w * (fr * qr - fi * qi) / den2;
    b[1] = (qi * fr + qr * fi) * w / den2;
  });
  for (float& v : gold) v = std::clamp(v, 0.0f, 1.0f);
  std::vector<float> fast = plane;
  RefinePadding(fast.data(), cols, rows, 0.002f, 0.1f, s);
  ReleasePaddingSpectra(&s);
  EXPECT_LT(MaxDifference(fast, gold), kRelativeBound);
}

TEST(RealTransforms, SolverPassMatchesGold) {
  const int H = 40, W = 54;
  const size_t n = GridSize(H, W);
  const std::vector<float> blurred = Random(n, 21), kernel = Random(9, 22);
  ComplexArray nomin(n), denom1(n), denom2(n);
  PrepareTVL2Spectra(blurred.data(), kernel.data(), H, W, 3, 3, nomin.get(), denom1.get(), denom2.get());
  const float beta = 0.37f, threshold = 0.05f;
  std::vector<float> I = Random(n, 23);
  // Gold: thresholded gradients and divergence as the pass forms them,
  // then the full complex solve.
  auto soft = [&](float g) { return (g < 0 ? -1.0f : 1.0f) * std::max(std::abs(g) - threshold, 0.0f); };
  std::vector<float> div(n);
  for (int i = 0; i < H; ++i)
    for (int j = 0; j < W; ++j) {
      auto wx = [&](int r, int c) { return soft(I[r * W + (c + 1) % W] - I[r * W + c]); };
      auto wy = [&](int r, int c) { return soft(I[((r + 1) % H) * W + c] - I[r * W + c]); };
      div[i * W + j] = (wx(i, (j + W - 1) % W) - wx(i, j)) + (wy((i + H - 1) % H, j) - wy(i, j));
    }
  const std::vector<float> gold = GoldFilter(div, H, W, [&](size_t k, fftwf_complex& f) {
    const float den = denom1[k][0] + beta * denom2[k][0];
    f[0] = (beta * f[0] + nomin[k][0]) / den;
    f[1] = (beta * f[1] + nomin[k][1]) / den;
  });
  TVWorkspace work(H, W);
  HalfQuadraticPass(I.data(), threshold, beta, nomin.get(), denom1.get(), denom2.get(), work);
  float range = 0;
  for (float v : gold) range = std::max(range, std::abs(v));
  EXPECT_LT(MaxDifference(I, gold), kRelativeBound * std::max(1.0f, range));
}
