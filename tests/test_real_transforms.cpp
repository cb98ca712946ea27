// The iterative steps transform real planes through half spectra. Each is
// checked against a plain complex-to-complex version of the same step (the
// gold routine) by its largest error relative to the plane's range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "pipeline/difference_spectra.h"
#include "pipeline/pad_image.h"
#include "pipeline/spectral.h"
#include "pipeline/tv_common.h"
#include "pipeline/tv_deconv.h"
#include "tests/seeded.h"

using namespace velmora;

namespace {

constexpr float kRelativeBound = 2e-5f;

using test_inputs::Random;

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

// The transfer function of taps on a rows x cols grid, as a full spectrum.
std::vector<std::complex<float>> TapSpectrum(const float* taps, int tapRows, int tapCols, int rows,
                                             int cols) {
  const size_t n = GridSize(rows, cols);
  ComplexArray s(n);
  KernelToSpectrum(taps, s.get(), rows, cols, tapRows, tapCols);
  std::vector<std::complex<float>> out(n);
  for (size_t k = 0; k < n; ++k) out[k] = {s[k][0], s[k][1]};
  return out;
}

TEST(RealTransforms, RefinementStepMatchesGold) {
  const int rows = 48, cols = 70;
  const std::vector<float> kernel = Random(5 * 7, 11);
  PaddingSpectra s;
  BuildPaddingSpectra(kernel.data(), cols, rows, 7, 5, 0.002f, 0.1f, &s);
  const std::vector<float> plane = Random(GridSize(rows, cols), 12);
  // Gold: every spectrum transformed from its taps, the two stages of the
  // refinement (deconvolution, re-blur) applied one after the other.
  static const float dx[3] = {1, -1, 0}, dxx[5] = {1, -2, 1, 0, 0};
  static const float dxy[9] = {1, -1, 0, -1, 1, 0, 0, 0, 0};
  const auto F = TapSpectrum(kernel.data(), 5, 7, rows, cols);
  const auto h = TapSpectrum(dx, 1, 3, rows, cols), v = TapSpectrum(dx, 3, 1, rows, cols);
  const auto hh = TapSpectrum(dxx, 1, 5, rows, cols), vv = TapSpectrum(dxx, 5, 1, rows, cols);
  const auto hv = TapSpectrum(dxy, 3, 3, rows, cols);
  std::vector<float> gold = GoldFilter(plane, rows, cols, [&](size_t k, fftwf_complex& b) {
    const float d = std::norm(h[k]) + std::norm(v[k]);
    const float w = 1.0f + 0.5f * d + 0.25f * (std::norm(hh[k]) + std::norm(vv[k]) + std::norm(hv[k]));
    const std::complex<float> q = std::conj(F[k]) * std::complex<float>(b[0], b[1]) * w /
                                  (w * std::norm(F[k]) + 0.002f * d);
    const std::complex<float> out = F[k] * q * w / (w + 0.1f * d);
    b[0] = out.real();
    b[1] = out.imag();
  });
  for (float& v : gold) v = std::clamp(v, 0.0f, 1.0f);
  std::vector<float> fast = plane;
  ComplexArray work(GridSize(rows, HalfCols(cols)));
  RefinePadding(fast.data(), cols, rows, s, work.get());
  ReleasePaddingSpectra(&s);
  EXPECT_LT(MaxDifference(fast, gold), kRelativeBound);
}

TEST(RealTransforms, SolverPassMatchesGold) {
  const int H = 40, W = 54;
  const size_t n = GridSize(H, W);
  const std::vector<float> blurred = Random(n, 21), kernel = Random(9, 22);
  // Gold spectra, full and transformed from the taps.
  static const float diff[2] = {1, -1};
  const auto K = TapSpectrum(kernel.data(), 3, 3, H, W);
  const auto fh = TapSpectrum(diff, 1, 2, H, W), fv = TapSpectrum(diff, 2, 1, H, W);
  ComplexArray b(n), fb(n);
  RealToComplex(blurred.data(), b.get(), n);
  Fft2d(b.get(), fb.get(), H, W, FFTW_FORWARD);
  const KernelSpectra spectra(kernel.data(), H, W, 3, 3);
  TVWorkspace work(H, W);
  DataNumerator(blurred.data(), spectra, work);
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
    const std::complex<float> nomin = std::conj(K[k]) * std::complex<float>(fb[k][0], fb[k][1]);
    const float den = std::norm(K[k]) + beta * (std::norm(fh[k]) + std::norm(fv[k]));
    f[0] = (beta * f[0] + nomin.real()) / den;
    f[1] = (beta * f[1] + nomin.imag()) / den;
  });
  HalfQuadraticPass(I.data(), threshold, beta, spectra, work);
  float range = 0;
  for (float v : gold) range = std::max(range, std::abs(v));
  EXPECT_LT(MaxDifference(I, gold), kRelativeBound * std::max(1.0f, range));
}
