// Size and schedule rules of blind estimation. Other code allocates from the
// same rules, so they must hold exactly.
#include <gtest/gtest.h>

#include <vector>

#include "estimation/estimate_kernel.h"
#include "estimation/level_spectra.h"

using namespace velmora;

namespace {

// Kernel sides and iteration counts, coarse to fine.
std::vector<int> Sides(int side) {
  std::vector<int> s;
  for (int w = LevelCount(side) - 1; w >= 0; --w) s.push_back(LevelKernelSide(side, w));
  return s;
}
std::vector<int> Iterations(int side) {
  std::vector<int> s;
  const int r = LevelCount(side);
  for (int w = r - 1; w >= 0; --w) s.push_back(IterationCount(w, r));
  return s;
}

TEST(EstimationSchedule, LevelCountRanges) {
  const int ranges[][3] = {{3, 4, 2},   {5, 7, 3},   {8, 12, 4},  {13, 20, 5},  {21, 33, 6},
                           {34, 53, 7}, {54, 87, 8}, {88, 140, 9}, {141, 228, 10}};
  for (const auto& range : ranges)
    for (int m = range[0]; m <= range[1]; ++m) EXPECT_EQ(LevelCount(m), range[2]) << m;
}

TEST(EstimationSchedule, KernelSidesAndIterationsPerLevel) {
  using V = std::vector<int>;
  EXPECT_EQ(Sides(19), (V{3, 5, 9, 13, 19}));
  EXPECT_EQ(Iterations(19), (V{11, 10, 9, 8, 8}));
  EXPECT_EQ(Sides(31), (V{3, 5, 9, 13, 21, 31}));
  EXPECT_EQ(Iterations(31), (V{11, 10, 9, 8, 7, 8}));
  EXPECT_EQ(Sides(51), (V{3, 5, 9, 13, 21, 33, 51}));
  EXPECT_EQ(Iterations(51), (V{11, 11, 10, 9, 8, 7, 8}));
  EXPECT_EQ(Sides(121), (V{3, 5, 7, 11, 19, 29, 47, 75, 121}));
  EXPECT_EQ(Iterations(121), (V{11, 11, 10, 9, 9, 8, 7, 7, 8}));
  EXPECT_EQ(Sides(25), (V{3, 5, 7, 11, 17, 25}));
  EXPECT_EQ(Iterations(25), (V{11, 10, 9, 8, 7, 8}));
  // Single-precision logarithms give 3 x 3 two levels, not one.
  EXPECT_EQ(Sides(3), (V{3, 3}));
  EXPECT_EQ(Iterations(3), (V{11, 8}));
  // An even side stays even at the finest level only.
  EXPECT_EQ(Sides(20), (V{3, 5, 9, 13, 20}));
}

TEST(EstimationSchedule, ThresholdRatioAndScaleWindow) {
  EXPECT_EQ(KernelThresholdRatio(45, 45), 0.03);  // 2025 taps
  EXPECT_EQ(KernelThresholdRatio(40, 50), 0.07);  // 2000 exactly
  const int windows[][2] = {{3, 3}, {5, 3}, {13, 9}, {19, 11}, {31, 19}};
  for (const auto& w : windows) EXPECT_EQ(ScaleMapWindow(w[0]), w[1]) << w[0];
}

TEST(EstimationSchedule, PaddedGrid) {
  const int lengths[][2] = {{8, 9},     {128, 243},   {1024, 2048}, {343, 343}, {20, 25},
                            {50, 64},   {100, 125},   {200, 243},   {300, 343}, {500, 512},
                            {1000, 1024}, {2000, 2048}};
  for (const auto& n : lengths) EXPECT_EQ(PaddedLength(n[0]), n[1]) << n[0];
  // 40 x 56 with a 7 x 5 kernel: n = 46 and 60.
  std::vector<float> image(40 * 60, 0.5f), kernel(7 * 5, 1.0f / 35);
  LevelSpectra s;
  BuildLevelSpectra(image.data(), kernel.data(), 56, 40, 5, 7, &s);
  EXPECT_EQ(std::vector<int>({s.padRows, s.padCols, s.padTop, s.padBottom, s.padLeft, s.padRight}),
            std::vector<int>({49, 64, 4, 5, 4, 4}));
  // With 60 columns n = 64, which moves one step up.
  BuildLevelSpectra(image.data(), kernel.data(), 60, 40, 5, 7, &s);
  EXPECT_EQ(std::vector<int>({s.padCols, s.padLeft, s.padRight}), std::vector<int>({81, 10, 11}));
  ReleaseLevelSpectra(&s);
  EXPECT_EQ(s.BxFre.get(), nullptr);
}

TEST(EstimationSchedule, IterationProgress) {
  EXPECT_FLOAT_EQ(IterationProgress(2, 3, 9), 3.0f);
  EXPECT_FLOAT_EQ(IterationProgress(1, 4, 8), 10.0f);
  EXPECT_FLOAT_EQ(IterationProgress(0, 0, 8), 15.0f);
  EXPECT_FLOAT_EQ(IterationProgress(0, 6, 8), 45.0f);
  // The finest level's last iteration writes 50 later; levels above 2
  // write nothing.
  EXPECT_LT(IterationProgress(0, 7, 8), 0.0f);
  EXPECT_LT(IterationProgress(3, 0, 10), 0.0f);
}

}  // namespace
