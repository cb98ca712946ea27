// The size and schedule rules of blind estimation: pyramid depth, kernel
// sides and iteration counts per level, padded grid sizes, thresholds and
// the progress values. Other implementations allocate from the same rules,
// so they must hold exactly.
#include <gtest/gtest.h>

#include <vector>

#include "estimation/estimate_kernel.h"
#include "estimation/level_spectra.h"

using namespace velmora;

namespace {

struct Schedule {
  std::vector<int> sides;       // coarse to fine
  std::vector<int> iterations;  // coarse to fine
};

Schedule ScheduleFor(int side) {
  Schedule s;
  const int r = LevelCount(side);
  for (int w = r - 1; w >= 0; --w) {
    s.sides.push_back(LevelKernelSide(side, w));
    s.iterations.push_back(IterationCount(w, r));
  }
  return s;
}

TEST(EstimationSchedule, LevelCountRanges) {
  // Each range of larger kernel sides and its level count.
  const int ranges[][3] = {{3, 4, 2},   {5, 7, 3},    {8, 12, 4},   {13, 20, 5},  {21, 33, 6},
                           {34, 53, 7}, {54, 87, 8}, {88, 140, 9}, {141, 228, 10}};
  for (const auto& range : ranges)
    for (int m = range[0]; m <= range[1]; ++m) EXPECT_EQ(LevelCount(m), range[2]) << "m = " << m;
}

TEST(EstimationSchedule, PresetTables) {
  const Schedule s19 = ScheduleFor(19);
  EXPECT_EQ(s19.sides, (std::vector<int>{3, 5, 9, 13, 19}));
  EXPECT_EQ(s19.iterations, (std::vector<int>{11, 10, 9, 8, 8}));
  const Schedule s31 = ScheduleFor(31);
  EXPECT_EQ(s31.sides, (std::vector<int>{3, 5, 9, 13, 21, 31}));
  EXPECT_EQ(s31.iterations, (std::vector<int>{11, 10, 9, 8, 7, 8}));
  const Schedule s51 = ScheduleFor(51);
  EXPECT_EQ(s51.sides, (std::vector<int>{3, 5, 9, 13, 21, 33, 51}));
  EXPECT_EQ(s51.iterations, (std::vector<int>{11, 11, 10, 9, 8, 7, 8}));
  const Schedule s121 = ScheduleFor(121);
  EXPECT_EQ(s121.sides, (std::vector<int>{3, 5, 7, 11, 19, 29, 47, 75, 121}));
  EXPECT_EQ(s121.iterations, (std::vector<int>{11, 11, 10, 9, 9, 8, 7, 7, 8}));
}

TEST(EstimationSchedule, SmallAndOddCases) {
  // Single-precision logarithms give a 3 x 3 kernel two levels, not one.
  const Schedule s3 = ScheduleFor(3);
  EXPECT_EQ(s3.sides, (std::vector<int>{3, 3}));
  EXPECT_EQ(s3.iterations, (std::vector<int>{11, 8}));
  const Schedule s25 = ScheduleFor(25);
  EXPECT_EQ(s25.sides, (std::vector<int>{3, 5, 7, 11, 17, 25}));
  EXPECT_EQ(s25.iterations, (std::vector<int>{11, 10, 9, 8, 7, 8}));
  // An even side keeps its size at the finest level only.
  const Schedule s20 = ScheduleFor(20);
  EXPECT_EQ(s20.sides.back(), 20);
  for (size_t i = 0; i + 1 < s20.sides.size(); ++i) EXPECT_EQ(s20.sides[i] % 2, 1);
}

TEST(EstimationSchedule, ThresholdRatioAndWindow) {
  EXPECT_EQ(KernelThresholdRatio(45, 45), 0.03);  // 2025 taps
  EXPECT_EQ(KernelThresholdRatio(40, 50), 0.07);  // 2000 exactly
  EXPECT_EQ(KernelThresholdRatio(19, 19), 0.07);
  EXPECT_EQ(ScaleMapWindow(3), 3);    // 2.3 -> 2, made odd
  EXPECT_EQ(ScaleMapWindow(5), 3);    // 3.5 -> 3
  EXPECT_EQ(ScaleMapWindow(19), 11);  // 11.9 -> 11
  EXPECT_EQ(ScaleMapWindow(31), 19);  // 19.1 -> 19
  EXPECT_EQ(ScaleMapWindow(13), 9);   // 8.3 -> 8, made odd
}

TEST(EstimationSchedule, PaddedLengths) {
  const int cases[][2] = {{8, 9},     {128, 243}, {1024, 2048}, {343, 343}, {20, 25},
                          {50, 64},   {100, 125}, {200, 243},   {300, 343}, {500, 512},
                          {1000, 1024}, {2000, 2048}, {46, 49},  {60, 64},   {64, 81}};
  for (const auto& c : cases) EXPECT_EQ(PaddedLength(c[0]), c[1]) << "n = " << c[0];
}

TEST(EstimationSchedule, PaddedGridOffsets) {
  std::vector<float> image(40 * 56, 0.5f), kernel(7 * 5, 1.0f / 35);
  LevelSpectra s;
  BuildLevelSpectra(image.data(), kernel.data(), 56, 40, 5, 7, &s);
  EXPECT_EQ(s.padRows, 49);
  EXPECT_EQ(s.padCols, 64);
  EXPECT_EQ(s.padTop, 4);
  EXPECT_EQ(s.padBottom, 5);
  EXPECT_EQ(s.padLeft, 4);
  EXPECT_EQ(s.padRight, 4);
  ReleaseLevelSpectra(&s);
  EXPECT_EQ(s.BxFre.get(), nullptr);

  std::vector<float> wider(40 * 60, 0.5f);
  BuildLevelSpectra(wider.data(), kernel.data(), 60, 40, 5, 7, &s);
  EXPECT_EQ(s.padCols, 81);  // n = 64 moves one step up
  EXPECT_EQ(s.padLeft, 10);
  EXPECT_EQ(s.padRight, 11);
}

TEST(EstimationSchedule, IterationProgress) {
  EXPECT_FLOAT_EQ(IterationProgress(2, 0, 9), 2.0f);
  EXPECT_FLOAT_EQ(IterationProgress(2, 3, 9), 3.0f);
  EXPECT_FLOAT_EQ(IterationProgress(1, 4, 8), 10.0f);
  EXPECT_FLOAT_EQ(IterationProgress(0, 0, 8), 15.0f);
  EXPECT_FLOAT_EQ(IterationProgress(0, 6, 8), 45.0f);
  // The last iteration of the finest level writes 50 itself, later;
  // levels above 2 write nothing.
  EXPECT_LT(IterationProgress(0, 7, 8), 0.0f);
  EXPECT_LT(IterationProgress(3, 0, 10), 0.0f);
  for (int t = 0; t < 10; ++t) {
    EXPECT_LT(IterationProgress(2, t, 10), 5.0f);
    EXPECT_LT(IterationProgress(1, t, 10), 15.0f);
    EXPECT_LT(IterationProgress(0, t, 10), 50.0f);
  }
}

}  // namespace
