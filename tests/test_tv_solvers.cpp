// The two total-variation solvers and the spatial convolution.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "pipeline/deconvolve.h"
#include "pipeline/spectral.h"
#include "pipeline/tv_deconv.h"
#include "tests/engine_log.h"

using namespace velmora;

namespace {

using Solver = bool (*)(const float*, float*, const float*, int, int, int, int, float);

std::vector<float> Noise(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::vector<float> p(n);
  for (float& v : p) v = u(rng);
  return p;
}

}  // namespace

TEST(Continuation, PassCountsForTheInterfaceWeights) {
  EXPECT_EQ(ContinuationPassCount(0.0004f), 10);  // TV-L2, smoothness 0.04
  EXPECT_EQ(ContinuationPassCount(0.0015f), 11);  // TV-L2, smoothness 0.15
  EXPECT_EQ(ContinuationPassCount(0.5f), 8);      // ended by t >= 0.01
  EXPECT_EQ(ContinuationPassCount(0.04f), 10);    // TV-L1 defaults
  EXPECT_EQ(ContinuationPassCount(0.03f), 11);
  EXPECT_EQ(ContinuationPassCount(0.05f), 11);
  EXPECT_EQ(ContinuationPassCount(0.2f), 9);
  EXPECT_EQ(ContinuationPassCount(0.4f), 8);
  EXPECT_EQ(ContinuationPassCount(2.0f), 6);
  EXPECT_EQ(ContinuationPassCount(0.0f), 0);
}

TEST(Continuation, WeightsAreRoundedOnce) {
  // smoothness 0.03: ten passes in the first solve, eleven in the ringing
  // solve. Rounding smoothness / 100 before multiplying by ten would give
  // ten in both.
  EXPECT_EQ(ContinuationPassCount(FirstSolveWeight(0.03f, 0)), 10);
  EXPECT_EQ(ContinuationPassCount(SecondSolveWeight(0.03f, 10, 0)), 11);
  const float roundedTwice = static_cast<float>(0.03f / 100.0) * 10.0f;
  EXPECT_EQ(ContinuationPassCount(roundedTwice), 10);
  EXPECT_EQ(FirstSolveWeight(0.04f, 1), 0.04f);
  EXPECT_EQ(SecondSolveWeight(0.04f, 10, 1), static_cast<float>(10 * 0.04f));
}

class SolverTest : public ::testing::TestWithParam<Solver> {};

TEST_P(SolverTest, EvenKernelIsRefusedAndInputKept) {
  const int H = 32, W = 32;
  const std::vector<float> b = Noise(GridSize(H, W), 1);
  const std::vector<float> k(20, 0.05f);
  std::vector<float> r(b.size(), 9.0f);
  const std::string log = testing_support::EngineLines(
      [&] { EXPECT_FALSE(GetParam()(b.data(), r.data(), k.data(), H, W, 4, 5, 0.01f)); });
  EXPECT_NE(log.find("Error - blur kernel k must be odd-sized.\n"), std::string::npos);
  EXPECT_EQ(r, b);
}

TEST_P(SolverTest, ZeroWeightReturnsInput) {
  const int H = 32, W = 48;
  const std::vector<float> b = Noise(GridSize(H, W), 2);
  const std::vector<float> k(9, 1.0f / 9.0f);
  std::vector<float> r(b.size());
  EXPECT_TRUE(GetParam()(b.data(), r.data(), k.data(), H, W, 3, 3, 0.0f));
  EXPECT_EQ(r, b);
}

TEST_P(SolverTest, ConstantStaysConstant) {
  const int H = 64, W = 32;
  const std::vector<float> b(GridSize(H, W), 0.3f);
  const std::vector<float> k(25, 1.0f / 25.0f);
  std::vector<float> r(b.size());
  EXPECT_TRUE(GetParam()(b.data(), r.data(), k.data(), H, W, 5, 5, 0.004f));
  for (float v : r) ASSERT_NEAR(v, 0.3f, 1e-5f);
}

TEST_P(SolverTest, SmoothsNoiseWithAnImpulseKernel) {
  // With no blur the solve is TV denoising: total variation must go down and
  // the mean is kept.
  const int H = 64, W = 64;
  const std::vector<float> b = Noise(GridSize(H, W), 3);
  const float impulse = 1.0f;
  std::vector<float> r(b.size());
  // The L1 solver's weight is not divided by 100 on the way in.
  const float lambda = GetParam() == &FastDeconvTVL2 ? 0.05f : 0.2f;
  ASSERT_TRUE(GetParam()(b.data(), r.data(), &impulse, H, W, 1, 1, lambda));
  auto tv = [&](const std::vector<float>& p) {
    double s = 0, m = 0;
    for (int i = 0; i < H; ++i)
      for (int j = 0; j < W; ++j) {
        s += std::abs(p[i * W + (j + 1) % W] - p[i * W + j]) + std::abs(p[((i + 1) % H) * W + j] - p[i * W + j]);
        m += p[i * W + j];
      }
    return std::pair{s, m / (H * W)};
  };
  const auto [tvIn, meanIn] = tv(b);
  const auto [tvOut, meanOut] = tv(r);
  EXPECT_LT(tvOut, 0.8 * tvIn);
  EXPECT_NEAR(meanOut, meanIn, 0.02);
}

INSTANTIATE_TEST_SUITE_P(BothSolvers, SolverTest, ::testing::Values(&FastDeconvTVL2, &FastDeconvTVL1),
                         [](const auto& info) { return info.param == &FastDeconvTVL2 ? "L2" : "L1"; });

TEST(ConvolveReplicate, CornerTapMovesUpAndLeft) {
  const int H = 6, W = 5;
  const std::vector<float> src = Noise(GridSize(H, W), 4);
  const float k[9] = {1, 0, 0, 0, 0, 0, 0, 0, 0};
  std::vector<float> dst(src.size());
  ConvolveReplicate(src.data(), dst.data(), W, H, k, 3, 3);
  for (int i = 0; i < H; ++i)
    for (int j = 0; j < W; ++j)
      EXPECT_NEAR(dst[i * W + j], src[std::min(i + 1, H - 1) * W + std::min(j + 1, W - 1)], 1e-6f);
}

TEST(ConvolveReplicate, InPlaceMatchesOutOfPlace) {
  const int H = 9, W = 11;
  std::vector<float> src = Noise(GridSize(H, W), 5);
  const std::vector<float> k = Noise(15, 6);  // 3 x 5
  std::vector<float> dst(src.size());
  ConvolveReplicate(src.data(), dst.data(), W, H, k.data(), 5, 3);
  ConvolveReplicate(src.data(), src.data(), W, H, k.data(), 5, 3);
  EXPECT_EQ(src, dst);
  // Interior sample against the definition.
  const std::vector<float> orig = Noise(GridSize(H, W), 5);
  float expect = 0;
  for (int l = 0; l < 3; ++l)
    for (int m = 0; m < 5; ++m) expect += k[(2 - l) * 5 + 4 - m] * orig[(4 - 1 + l) * W + 5 - 2 + m];
  EXPECT_FLOAT_EQ(dst[4 * W + 5], expect);
}
