// The level spectra, the Fourier-domain kernel solve and the latent-image
// update, including the overshoot check that is the estimation's only
// failure signal.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "estimation/fourier_solvers.h"
#include "estimation/level_spectra.h"
#include "pipeline/spectral.h"

using namespace velmora;

namespace {

std::vector<float> RandomPlane(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::vector<float> v(n);
  for (float& x : v) x = u(random);
  return v;
}

std::vector<float> Impulse(int rows, int cols) {
  std::vector<float> k(rows * cols, 0.0f);
  k[rows * cols / 2] = 1.0f;
  return k;
}

TEST(EdgeTaper, ImpulseKernelKeepsTheImage) {
  const int rows = 24, cols = 30;
  const std::vector<float> image = RandomPlane(rows * cols, 1), k = Impulse(5, 5);
  std::vector<float> out(rows * cols);
  EdgeTaper(image.data(), out.data(), rows, cols, k.data(), 5, 5);
  for (size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], image[i], 1e-5f);
}

TEST(EdgeTaper, BlendsTowardsTheBlurAtTheBorderAndClamps) {
  const int rows = 32, cols = 32;
  std::vector<float> image(rows * cols, 0.2f), out(rows * cols);
  for (int y = 0; y < rows; ++y) image[y * cols] = 1.0f;  // a bright first column
  std::vector<float> box(5 * 5, 1.0f / 25);
  EdgeTaper(image.data(), out.data(), rows, cols, box.data(), 5, 5);
  // The taper only acts near the border, and never leaves the input range.
  EXPECT_LT(out[10 * cols], 1.0f);
  EXPECT_NEAR(out[16 * cols + 16], 0.2f, 1e-5f);
  for (float v : out) {
    EXPECT_GE(v, 0.2f - 1e-6f);
    EXPECT_LE(v, 1.0f);
  }
  // A sharpening kernel overshoots past 0 on an all-negative picture; the
  // upper clamp starts from 0, so nothing comes out positive.
  std::vector<float> negative(rows * cols);
  for (int i = 0; i < rows * cols; ++i) negative[i] = i % 2 ? -0.01f : -0.5f;
  const std::vector<float> sharpen = {-1.0f, 3.0f, -1.0f};
  EdgeTaper(negative.data(), out.data(), rows, cols, sharpen.data(), 1, 3);
  int clamped = 0;
  for (float v : out) {
    EXPECT_LE(v, 0.0f);
    EXPECT_GE(v, -0.5f);
    clamped += v == 0.0f;
  }
  EXPECT_GT(clamped, 0);
  // An all-zero kernel has no autocorrelation to scale: no taper, no NaN.
  const std::vector<float> zero(5 * 5, 0.0f), noise = RandomPlane(rows * cols, 2);
  EdgeTaper(noise.data(), out.data(), rows, cols, zero.data(), 5, 5);
  for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], noise[i]);
}

TEST(LevelSpectra, GradientsAndPaddedGrids) {
  const int rows = 20, cols = 26;
  const std::vector<float> image = RandomPlane(rows * cols, 3), k = Impulse(5, 3);
  LevelSpectra s;
  BuildLevelSpectra(image.data(), k.data(), cols, rows, 3, 5, &s);
  for (int y = 0; y < rows; ++y) {
    EXPECT_EQ(s.Bx[y * cols + cols - 1], 0.0f);
    EXPECT_EQ(s.Bx[y * cols + 3], image[y * cols + 4] - image[y * cols + 3]);
  }
  for (int x = 0; x < cols; ++x) {
    EXPECT_EQ(s.By[(rows - 1) * cols + x], 0.0f);
    EXPECT_EQ(s.By[2 * cols + x], image[3 * cols + x] - image[2 * cols + x]);
  }
  // Back from the padded spectrum: Bx inside, zeros outside.
  const size_t n = GridSize(s.padRows, s.padCols);
  ComplexArray copy(n), spatial(n);
  std::copy_n(&s.BxFre[0][0], 2 * n, &copy[0][0]);
  Fft2d(copy.get(), spatial.get(), s.padRows, s.padCols, FFTW_BACKWARD);
  for (int y = 0; y < s.padRows; ++y)
    for (int x = 0; x < s.padCols; ++x) {
      const int iy = y - s.padTop, ix = x - s.padLeft;
      const bool inside = iy >= 0 && ix >= 0 && iy < rows && ix < cols;
      const float expected = inside ? s.Bx[iy * cols + ix] : 0.0f;
      ASSERT_NEAR(spatial[y * s.padCols + x][0] / n, expected, 1e-5f);
    }
  // The derivative energies: nothing at the zero frequency, and the weight
  // spectrum is 1 there.
  EXPECT_NEAR(s.FreqDerrs[0][0], 0.0f, 1e-6f);
  EXPECT_NEAR(s.FreqWt[0][0], 1.0f, 1e-6f);
  for (size_t i = 0; i < GridSize(rows, cols); ++i) {
    EXPECT_EQ(s.FreqDerrs[i][1], 0.0f);
    EXPECT_GE(s.FreqWt[i][0], 1.0f + 0.5f * s.FreqDerrs[i][0] - 1e-4f);
  }
}

// Natural-orientation linear convolution with zeros outside.
std::vector<float> Convolve(const std::vector<float>& image, int rows, int cols,
                            const std::vector<float>& k, int kr, int kc) {
  std::vector<float> out(rows * cols, 0.0f);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      double sum = 0.0;
      for (int u = 0; u < kr; ++u)
        for (int v = 0; v < kc; ++v) {
          const int y = i - u + kr / 2, x = j - v + kc / 2;
          if (y >= 0 && x >= 0 && y < rows && x < cols) sum += k[u * kc + v] * image[y * cols + x];
        }
      out[i * cols + j] = static_cast<float>(sum);
    }
  return out;
}

TEST(KernelSolve, RecoversAKnownKernelUnshiftedAndUnflipped) {
  const int rows = 64, cols = 64, kr = 7, kc = 5;
  std::vector<float> sharp(rows * cols, 0.0f);
  const std::vector<float> noise = RandomPlane(rows * cols, 4);
  for (int y = 10; y < rows - 10; ++y)
    for (int x = 10; x < cols - 10; ++x) sharp[y * cols + x] = noise[y * cols + x];
  std::vector<float> truth(kr * kc, 0.0f);
  truth[1 * kc + 1] = 0.5f;  // an asymmetric L: any flip or shift shows
  truth[1 * kc + 3] = 0.3f;
  truth[5 * kc + 1] = 0.2f;
  const std::vector<float> blurred = Convolve(sharp, rows, cols, truth, kr, kc);
  LevelSpectra s;
  const std::vector<float> k0 = Impulse(kr, kc);
  BuildLevelSpectra(blurred.data(), k0.data(), cols, rows, kc, kr, &s);
  std::vector<float> gx(rows * cols, 0.0f), gy(rows * cols, 0.0f);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < cols; ++x) {
      if (x + 1 < cols) gx[y * cols + x] = sharp[y * cols + x + 1] - sharp[y * cols + x];
      if (y + 1 < rows) gy[y * cols + x] = sharp[(y + 1) * cols + x] - sharp[y * cols + x];
    }
  std::vector<float> estimate(kr * kc);
  EstimateKernelFFT(gx.data(), gy.data(), s, rows, cols, kr, kc, estimate.data(), 1e-3f);
  for (int i = 0; i < kr * kc; ++i) EXPECT_NEAR(estimate[i], truth[i], 0.02f) << "tap " << i;
  // No predicted edges: the estimate is all zeros.
  std::fill(gx.begin(), gx.end(), 0.0f);
  std::fill(gy.begin(), gy.end(), 0.0f);
  EstimateKernelFFT(gx.data(), gy.data(), s, rows, cols, kr, kc, estimate.data(), 40.0f);
  for (float v : estimate) EXPECT_EQ(v, 0.0f);
}

TEST(KernelSolve, KernelFromSpectrumInvertsKernelToSpectrum) {
  const int gr = 12, gc = 10, kr = 5, kc = 7;
  const std::vector<float> k = RandomPlane(kr * kc, 5);
  ComplexArray spectrum(GridSize(gr, gc));
  KernelToSpectrum(k.data(), spectrum.get(), gr, gc, kr, kc);
  std::vector<float> back(kr * kc);
  KernelFromSpectrum(spectrum.get(), back.data(), gr, gc, kr, kc);
  for (int i = 0; i < kr * kc; ++i) EXPECT_NEAR(back[i], k[i], 1e-5f);
}

// Spectra that make the latent update return `target` exactly (up to
// transform rounding) for an impulse kernel: W = 1, D = 0, B = F(target).
LevelSpectra PassThrough(const std::vector<float>& target, int rows, int cols) {
  const size_t n = GridSize(rows, cols);
  LevelSpectra s;
  s.FreqWt = ComplexArray(n);
  s.FreqDerrs = ComplexArray(n);
  s.FreqB = ComplexArray(n);
  ComplexArray spatial(n);
  RealToComplex(target.data(), spatial.get(), n);
  Fft2d(spatial.get(), s.FreqB.get(), rows, cols, FFTW_FORWARD);
  for (size_t i = 0; i < n; ++i) {
    s.FreqWt[i][0] = 1.0f;
    s.FreqWt[i][1] = 0.0f;
    s.FreqDerrs[i][0] = 0.0f;
    s.FreqDerrs[i][1] = 0.0f;
  }
  return s;
}

TEST(LatentUpdate, ClampsWithoutCheck) {
  const int rows = 2, cols = 5;
  const std::vector<float> target = {-0.4f, 0.2f, 1.5f, 0.7f, 1.0f, 0.0f, 2.0f, -1.0f, 0.5f, 0.9f};
  const LevelSpectra s = PassThrough(target, rows, cols);
  std::vector<float> latent(rows * cols, 0.5f);
  const std::vector<float> k = Impulse(3, 3);
  EXPECT_TRUE(UpdateLatentImage(k.data(), latent.data(), s, rows, cols, 3, 3, 0.002f, false));
  for (int i = 0; i < rows * cols; ++i)
    EXPECT_NEAR(latent[i], std::min(std::max(target[i], 0.0f), 1.0f), 1e-6f);
}

TEST(LatentUpdate, CheckCountsOnlyOvershootAwayFromThePreviousSide) {
  const int rows = 2, cols = 5;
  const std::vector<float> k = Impulse(3, 3);
  // Two pixels of ten overshoot (exactly 20 %): still a success.
  //                            counted          counted          kept     kept
  std::vector<float> old = {0.5f, 0.95f, 0.5f, 0.95f, 0.3f, 0.3f, 0.3f, 0.3f, 0.3f, 0.3f};
  std::vector<float> target = {1.4f, -0.3f, -0.2f, 1.3f, 0.4f, 0.4f, 0.4f, 0.4f, 0.4f, 0.4f};
  LevelSpectra s = PassThrough(target, rows, cols);
  std::vector<float> latent = old;
  EXPECT_TRUE(UpdateLatentImage(k.data(), latent.data(), s, rows, cols, 3, 3, 0.002f, true));
  EXPECT_NEAR(latent[0], 1.0f, 1e-6f);
  EXPECT_NEAR(latent[1], 0.0f, 1e-6f);
  EXPECT_NEAR(latent[2], -0.2f, 1e-5f);  // below 0 from below 0.9 stays
  EXPECT_NEAR(latent[3], 1.3f, 1e-5f);   // above 1 from 0.9 up stays
  EXPECT_NEAR(latent[4], 0.4f, 1e-5f);
  // A third one: 30 % fails, and the latent image is overwritten anyway.
  target[4] = 1.2f;
  s = PassThrough(target, rows, cols);
  latent = old;
  EXPECT_FALSE(UpdateLatentImage(k.data(), latent.data(), s, rows, cols, 3, 3, 0.002f, true));
  EXPECT_NEAR(latent[4], 1.0f, 1e-6f);
  EXPECT_NEAR(latent[5], 0.4f, 1e-5f);
}

TEST(LatentUpdate, ExactlyAFifthOfManyPixels) {
  // 20 % of 1000 pixels is exactly the limit, one more fails.
  const int rows = 20, cols = 50, n = rows * cols;
  const std::vector<float> k = Impulse(3, 3);
  std::vector<float> old(n, 0.3f), target(n, 0.4f);
  for (int i = 0; i < n / 5; ++i) target[i * 5] = 1.5f;
  std::vector<float> latent = old;
  EXPECT_TRUE(UpdateLatentImage(k.data(), latent.data(), PassThrough(target, rows, cols), rows,
                                cols, 3, 3, 0.002f, true));
  target[1] = 1.5f;
  latent = old;
  EXPECT_FALSE(UpdateLatentImage(k.data(), latent.data(), PassThrough(target, rows, cols), rows,
                                 cols, 3, 3, 0.002f, true));
}

TEST(LatentUpdate, ImpulseKernelSmoothsMildly) {
  // With |K| = 1 the update is W B / (W + wt D): a constant survives, and
  // a noisy picture keeps its mean while losing a little variation.
  const int rows = 16, cols = 16;
  const std::vector<float> noise = RandomPlane(rows * cols, 6), k = Impulse(3, 3);
  LevelSpectra s;
  BuildLevelSpectra(noise.data(), k.data(), cols, rows, 3, 3, &s);
  std::vector<float> latent(rows * cols, 0.0f);
  ASSERT_TRUE(UpdateLatentImage(k.data(), latent.data(), s, rows, cols, 3, 3, 0.002f, false));
  double meanIn = 0, meanOut = 0, varIn = 0, varOut = 0, diff = 0;
  for (int i = 0; i < rows * cols; ++i) {
    meanIn += noise[i];
    meanOut += latent[i];
  }
  meanIn /= rows * cols;
  meanOut /= rows * cols;
  for (int i = 0; i < rows * cols; ++i) {
    varIn += (noise[i] - meanIn) * (noise[i] - meanIn);
    varOut += (latent[i] - meanOut) * (latent[i] - meanOut);
    diff = std::max(diff, std::fabs(static_cast<double>(latent[i] - noise[i])));
  }
  EXPECT_NEAR(meanOut, meanIn, 1e-4);
  EXPECT_LT(varOut, varIn);
  EXPECT_GT(varOut, 0.9 * varIn);
  EXPECT_LT(diff, 0.05);
}

}  // namespace
