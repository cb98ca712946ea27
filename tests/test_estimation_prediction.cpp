// Edge prediction: the shock filter's behaviour on simple profiles, the
// order-statistic selection, and the automatic thresholds with the counts
// they must use.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

#include "estimation/level_spectra.h"
#include "estimation/prediction.h"
#include "estimation/shock_filter.h"

using namespace velmora;

namespace {

std::vector<float> RandomPlane(size_t n, unsigned seed, float lo = 0.0f, float hi = 1.0f) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> u(lo, hi);
  std::vector<float> v(n);
  for (float& x : v) x = u(random);
  return v;
}

TEST(ShockFilter, ConstantRampAndCopy) {
  const int w = 9, h = 7;
  std::vector<float> constant(w * h, 0.3f), ramp(w * h), out(w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ramp[y * w + x] = 0.25f * x;
  ShockFilter(constant.data(), out.data(), w, h, 3, 1.0f, 1.0f);
  EXPECT_EQ(out, constant);
  // Interior second differences vanish; at the ends one one-sided slope is
  // 0, so the minmod speed is 0.
  ShockFilter(ramp.data(), out.data(), w, h, 2, 1.0f, 1.0f);
  EXPECT_EQ(out, ramp);
  const std::vector<float> noise = RandomPlane(w * h, 1);
  ShockFilter(noise.data(), out.data(), w, h, 0, 1.0f, 1.0f);
  EXPECT_EQ(out, noise);
}

TEST(ShockFilter, SteepensABlurredStep) {
  const int w = 32, h = 4;
  std::vector<float> step(w * h), out(w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) step[y * w + x] = 1.0f / (1.0f + std::exp(-(x - 15.5f) / 3.0f));
  ShockFilter(step.data(), out.data(), w, h, 1, 0.5f, 1.0f);
  for (int x = 1; x < w - 1; ++x) {
    const float before = step[x], after = out[x];
    if (x < 15) EXPECT_LT(after, before) << "convex lower half falls, x = " << x;
    if (x > 16) EXPECT_GT(after, before) << "concave upper half rises, x = " << x;
    // The speed is the smaller one-sided slope, scaled by dt / h.
    const float slope = std::min(std::fabs(step[x] - step[x - 1]), std::fabs(step[x + 1] - step[x]));
    EXPECT_NEAR(std::fabs(after - before), 0.5f * slope, 1e-6f);
  }
  EXPECT_GT(out[17] - out[14], step[17] - step[14]);
}

TEST(ShockFilter, ExtremumDoesNotMoveAlongX) {
  // A ridge along x: every pixel is an extremum across columns (opposite
  // one-sided slopes), and the rows are identical, so nothing moves.
  const int w = 7, h = 5;
  std::vector<float> ridge(w * h), out(w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ridge[y * w + x] = x % 2 ? 0.8f : 0.2f;
  ShockFilter(ridge.data(), out.data(), w, h, 1, 1.0f, 1.0f);
  EXPECT_EQ(out, ridge);
}

float SortedKth(std::vector<float> v, size_t k) {
  std::sort(v.begin(), v.end(), std::greater<float>());
  return k > v.size() ? v.back() : v[k - 1];
}

TEST(SelectKthLargest, AgreesWithSortingOnDuplicates) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> level(0, 4);
  for (int trial = 0; trial < 20; ++trial) {
    std::vector<float> v(257);
    for (float& x : v) x = 0.25f * level(random);
    for (size_t k : {size_t{1}, size_t{2}, size_t{100}, size_t{257}, size_t{300}}) {
      std::vector<float> work = v;
      EXPECT_EQ(SelectKthLargest(work.data(), 0, 256, static_cast<std::ptrdiff_t>(k)), SortedKth(v, k));
    }
  }
}

TEST(SelectKthLargest, RangesAndDegenerateCounts) {
  std::vector<float> v = {9, 5, 1, 7, 3, 8};
  EXPECT_EQ(SelectKthLargest(v.data(), 0, -1, 3), 0.0f);  // empty
  std::vector<float> w = v;
  EXPECT_EQ(SelectKthLargest(w.data(), 2, 4, 1), 7.0f);    // only values[2 .. 4]
  w = v;
  EXPECT_EQ(SelectKthLargest(w.data(), 2, 4, 9), 1.0f);    // beyond the count
  w = v;
  EXPECT_EQ(SelectKthLargest(w.data(), 0, 5, 0), 9.0f);    // no count: the largest
}

TEST(SelectKthLargest, MillionsOfEqualValues) {
  // Masked and clipped areas: all zeros, or two values only. A partition
  // around the first element would be quadratic here.
  std::vector<float> zeros(4000000, 0.0f);
  EXPECT_EQ(SelectKthLargest(zeros.data(), 0, 3999999, 2000000), 0.0f);
  std::vector<float> clipped(4000000, 1.0f);
  std::fill(clipped.begin(), clipped.begin() + 3000000, 0.0f);
  EXPECT_EQ(SelectKthLargest(clipped.data(), 0, 3999999, 999999), 1.0f);
  EXPECT_EQ(SelectKthLargest(clipped.data(), 0, 3999999, 1000001), 0.0f);
}

// The bins and per-bin order statistic, computed independently of the
// engine by sorting.
float BinnedThreshold(const std::vector<float>& values, const std::vector<int>& bins, size_t k) {
  std::vector<float> perBin[4];
  for (size_t i = 0; i < values.size(); ++i) perBin[bins[i]].push_back(values[i]);
  float t = 1e30f;
  for (auto& b : perBin) t = std::min(t, b.empty() ? 0.0f : SortedKth(b, k));
  return t;
}

std::vector<int> ScaleBins(const std::vector<float>& image, int w, int h) {
  std::vector<int> bins(image.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t i = static_cast<size_t>(y) * w + x;
      const float dx = x + 1 < w ? image[i + 1] - image[i] : 0.0f;
      const float dy = y + 1 < h ? image[i + w] - image[i] : 0.0f;
      const float theta = std::atan2(dy, dx);
      bins[i] = theta < -1.5708f ? 0 : theta < 0.0f ? 1 : theta < 1.5708f ? 2 : 3;
    }
  return bins;
}

PredictionParams Params(const std::vector<float>& image, int w, int h, int kw, int kh) {
  return InitialPredictionParams(image.data(), w, h, kw, kh);
}

TEST(PredictionThresholds, AutomaticScaleThresholdCount) {
  // 200 x 300 with an 11 x 11 kernel: sqrt(60000 / 121) x 121 = 2694.44.
  const int w = 300, h = 200;
  const std::vector<float> image = RandomPlane(w * h, 2);
  const std::vector<float> map = RandomPlane(w * h, 3, 0.0f, 0.04f);
  const std::vector<int> bins = ScaleBins(image, w, h);
  CImageMyPredictionEngine engine;
  engine.SetParameters(Params(image, w, h, 11, 11), map.data(), 1.0f);
  std::vector<float> mask(w * h);
  engine.ComputeScaleMask(mask.data());
  const float expected = BinnedThreshold(map, bins, 2694);
  EXPECT_EQ(engine.scaleThreshold, expected);
  EXPECT_NE(expected, BinnedThreshold(map, bins, 2692));  // the count is the float one
  for (size_t i = 0; i < mask.size(); ++i) ASSERT_EQ(mask[i], map[i] >= expected ? 1.0f : 0.0f);

  // tscale 0 would select nothing: each bin's largest value is taken.
  engine.SetParameters(Params(image, w, h, 11, 11), map.data(), 0.0f);
  engine.ComputeScaleMask(mask.data());
  EXPECT_EQ(engine.scaleThreshold, BinnedThreshold(map, bins, 1));
}

TEST(PredictionThresholds, ScaleThresholdCapAndEmptyBins) {
  const int w = 64, h = 48;
  const std::vector<float> image = RandomPlane(w * h, 4);
  const std::vector<float> high = RandomPlane(w * h, 5, 0.5f, 1.0f);
  CImageMyPredictionEngine engine;
  std::vector<float> mask(w * h);
  engine.SetParameters(Params(image, w, h, 5, 5), high.data(), 1.0f);
  engine.ComputeScaleMask(mask.data());
  EXPECT_EQ(engine.scaleThreshold, 0.05f);
  // A flat latent image puts every pixel into one bin; the empty bins make
  // the threshold 0 and the mask all ones.
  const std::vector<float> flat(w * h, 0.4f);
  engine.SetParameters(Params(flat, w, h, 5, 5), high.data(), 1.0f);
  engine.ComputeScaleMask(mask.data());
  EXPECT_EQ(engine.scaleThreshold, 0.0f);
  EXPECT_EQ(std::count(mask.begin(), mask.end(), 1.0f), w * h);
  // A threshold already set is used as it is.
  PredictionParams p = Params(image, w, h, 5, 5);
  p.scaleThreshold = 0.75f;
  engine.SetParameters(p, high.data(), 1.0f);
  engine.ComputeScaleMask(mask.data());
  EXPECT_EQ(engine.scaleThreshold, 0.75f);
  for (size_t i = 0; i < mask.size(); ++i) ASSERT_EQ(mask[i], high[i] >= 0.75f ? 1.0f : 0.0f);
}

int GradientBin(float gx, float gy) {
  float theta = std::atan2(gy, gx);
  if (theta < 0) theta = static_cast<float>(theta + std::numbers::pi);
  return theta < 0.7853982f ? 0 : theta < 1.5707964f ? 1 : theta < 2.35619455575943 ? 2 : 3;
}

TEST(PredictionThresholds, AutomaticGradientThresholdCount) {
  const int w = 300, h = 200;
  const std::vector<float> image = RandomPlane(w * h, 6);
  const std::vector<float> ones(w * h, 1.0f);
  PredictionParams p = Params(image, w, h, 11, 11);
  p.decay = 1.0f;           // keeps the chosen threshold readable afterwards
  p.scaleThreshold = 0.0f;  // every pixel passes the mask
  // A tiny fixed threshold first: the raw gradients, as the automatic run
  // sees them.
  p.gradThreshold = 1e-30f;
  CImageMyPredictionEngine raw;
  raw.SetParameters(p, ones.data(), 1.0f);
  raw.Predict(true);
  std::vector<float> magnitude(w * h);
  std::vector<int> bins(w * h);
  for (size_t i = 0; i < magnitude.size(); ++i) {
    magnitude[i] = std::sqrt(raw.gradX[i] * raw.gradX[i] + raw.gradY[i] * raw.gradY[i]);
    bins[i] = GradientBin(raw.gradX[i], raw.gradY[i]);
  }
  p.gradThreshold = -1.0f;
  CImageMyPredictionEngine automatic;
  automatic.SetParameters(p, ones.data(), 1.0f);
  automatic.Predict(true);
  const float expected = BinnedThreshold(magnitude, bins, 22);  // 2 x 11
  EXPECT_EQ(automatic.gradThreshold, expected);
  EXPECT_NE(expected, BinnedThreshold(magnitude, bins, 21));
  size_t survivors = 0;
  for (size_t i = 0; i < magnitude.size(); ++i) {
    const bool kept = magnitude[i] > expected;
    survivors += kept;
    ASSERT_EQ(automatic.gradX[i], kept ? raw.gradX[i] : 0.0f);
    ASSERT_EQ(automatic.gradY[i], kept ? raw.gradY[i] : 0.0f);
  }
  EXPECT_GE(survivors, 4u * 21u);
}

TEST(PredictionThresholds, DecayAndFlatImage) {
  const int w = 40, h = 30;
  const std::vector<float> flat(w * h, 0.6f), ones(w * h, 1.0f);
  CImageMyPredictionEngine engine;
  engine.SetParameters(Params(flat, w, h, 5, 5), ones.data(), 1.0f);
  engine.Predict(true);
  EXPECT_EQ(engine.gradThreshold, 0.0f);  // nothing but zero gradients to select from
  EXPECT_EQ(std::count(engine.gradX.get(), engine.gradX.get() + w * h, 0.0f), w * h);
  EXPECT_EQ(std::count(engine.gradY.get(), engine.gradY.get() + w * h, 0.0f), w * h);
  EXPECT_EQ(engine.sigma, 2.0f * 0.9f);
  EXPECT_EQ(engine.dt, 1.0f * 0.9f);
  // Flat: all empty bins but one, so the scale threshold is 0, then decayed.
  EXPECT_EQ(engine.scaleThreshold, 0.0f);
}

TEST(ScaleMap, CoherenceAndMirroredBorder) {
  const int rows = 6, cols = 8;
  LevelSpectra s;
  s.Bx = FloatArray(rows * cols);
  s.By = FloatArray(rows * cols);
  std::vector<float> map(rows * cols);
  // Coherent gradients: the window mean equals the mean magnitude.
  std::fill_n(s.Bx.get(), rows * cols, 0.5f);
  std::fill_n(s.By.get(), rows * cols, 0.0f);
  ComputeScaleMap(s, map.data(), rows, cols, 3, 3);
  for (float v : map) EXPECT_FLOAT_EQ(v, 0.5f / 1.5f);
  // Alternating signs (texture): the mean cancels, the magnitudes do not.
  for (int i = 0; i < rows * cols; ++i) s.Bx[i] = (i % cols) % 2 ? -0.5f : 0.5f;
  ComputeScaleMap(s, map.data(), rows, cols, 1, 3);
  EXPECT_FLOAT_EQ(map[3 * cols + 3], (0.5f / 3) / 1.5f);
  // Bx = column index, a window 3 wide: column 0 mirrors column 1 without
  // repeating itself, mean (1 + 0 + 1) / 3.
  for (int i = 0; i < rows * cols; ++i) s.Bx[i] = static_cast<float>(i % cols);
  ComputeScaleMap(s, map.data(), rows, cols, 1, 3);
  EXPECT_FLOAT_EQ(map[0], (2.0f / 3) / (2.0f / 3 + 1));
  EXPECT_FLOAT_EQ(map[cols - 1], 19.0f / 22.0f);  // mean (6 + 7 + 6) / 3
}

}  // namespace
