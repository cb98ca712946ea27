// Canvas sizing and boundary padding.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "pipeline/deconvolve.h"
#include "pipeline/pad_image.h"
#include "pipeline/pyramid.h"
#include "pipeline/spectral.h"

using namespace velmora;

namespace {

std::vector<float> Smooth(int rows, int cols, int channels, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.2f, 0.8f);
  std::vector<float> p(GridSize(rows, cols) * channels);
  for (int c = 0; c < channels; ++c) {
    const float a = u(rng), b = u(rng);
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < cols; ++j)
        p[GridSize(rows, cols) * c + GridSize(i, cols) + j] =
            0.5f + 0.3f * std::sin(a * i * 0.2f) * std::cos(b * j * 0.15f);
  }
  return p;
}

std::vector<float> Box(int rows, int cols) {
  return std::vector<float>(GridSize(rows, cols), 1.0f / static_cast<float>(rows * cols));
}

}  // namespace

TEST(PaddingPyramid, LevelCountsFollowKernelSize) {
  const std::pair<int, int> expected[] = {{3, 2},  {5, 2},  {7, 3},  {11, 3}, {13, 4}, {19, 4},
                                          {23, 4}, {25, 5}, {31, 5}, {47, 5}, {49, 6}, {51, 6},
                                          {95, 6}, {97, 7}, {121, 7}};
  for (auto [m, levels] : expected) EXPECT_EQ(PaddingLevelCount(m), levels) << m;
  EXPECT_EQ(PaddingLevelCount(1), 1);  // a 1 x 1 kernel still gets its canvas level
}

TEST(PaddingPyramid, CoarseKernelSidesAreOddAndAtLeastThree) {
  const int expected31[] = {31, 17, 9, 5, 3};
  for (int m = 0; m < 5; ++m) EXPECT_EQ(m == 0 ? 31 : PaddingKernelSide(31, PowInt(0.5f, m)), expected31[m]);
  const int expected19[] = {19, 11, 5, 3};
  for (int m = 1; m < 4; ++m) EXPECT_EQ(PaddingKernelSide(19, PowInt(0.5f, m)), expected19[m]);
}

TEST(CanvasSize, MultiplesOf256WithAKernelOfBorder) {
  EXPECT_EQ(CanvasSide(100, 19), 256);
  EXPECT_EQ(CanvasOffset(256, 100), 78);
  EXPECT_EQ(CanvasSide(218, 19), 256);
  EXPECT_EQ(CanvasSide(219, 19), 512);
  EXPECT_EQ(CanvasOffset(512, 219), 146);
  EXPECT_EQ(CanvasSide(500, 19), 768);
  EXPECT_EQ(CanvasSide(400, 19), 512);
  EXPECT_EQ(CanvasOffset(768, 500), 134);
  EXPECT_EQ(CanvasOffset(512, 400), 56);
}

TEST(PadImage, InteriorIsTheInputAndBorderInRange) {
  const int rows = 70, cols = 90, channels = 3, kr = 9, kc = 7;
  const int padRows = 128, padCols = 160;
  const std::vector<float> in = Smooth(rows, cols, channels, 5);
  const std::vector<float> k = Box(kr, kc);
  std::vector<float> canvas(GridSize(padRows, padCols) * channels, -5.0f);
  ASSERT_TRUE(PadImage(in.data(), canvas.data(), k.data(), cols, rows, channels, kc, kr, padCols,
                       padRows, true));
  const int top = (padRows - rows) / 2, left = (padCols - cols) / 2;
  for (int c = 0; c < channels; ++c)
    for (int i = 0; i < padRows; ++i)
      for (int j = 0; j < padCols; ++j) {
        const float v = canvas[GridSize(padRows, padCols) * c + GridSize(i, padCols) + j];
        const bool inside = i >= top && i < top + rows && j >= left && j < left + cols;
        if (inside)
          ASSERT_EQ(v, in[GridSize(rows, cols) * c + GridSize(i - top, cols) + j - left]);
        else
          ASSERT_TRUE(v >= 0.0f && v <= 1.0f) << i << "," << j;
      }
}

TEST(PadImage, BorderContinuesTheImageSmoothly) {
  // Replicated edges would leave a jump of 0.8 at the periodic seam; the
  // refined border spreads it out, and inside the canvas nothing jumps.
  const int rows = 60, cols = 60, padRows = 128, padCols = 128;
  std::vector<float> in(GridSize(rows, cols));
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) in[GridSize(i, cols) + j] = 0.1f + 0.8f * j / (cols - 1.0f);
  const std::vector<float> k = Box(5, 5);
  std::vector<float> canvas(GridSize(padRows, padCols));
  ASSERT_TRUE(PadImage(in.data(), canvas.data(), k.data(), cols, rows, 1, 5, 5, padCols, padRows, true));
  for (int i = 0; i < padRows; ++i) {
    const float* row = &canvas[GridSize(i, padCols)];
    EXPECT_LT(std::abs(row[0] - row[padCols - 1]), 0.3f);
    for (int j = 1; j < padCols; ++j) ASSERT_LT(std::abs(row[j] - row[j - 1]), 0.1f);
  }
}

TEST(PadImage, ConstantImageGivesConstantCanvas) {
  const std::vector<float> in(GridSize(50, 40), 0.42f);
  for (int side : {1, 3, 19}) {
    const std::vector<float> k = Box(side, side);
    std::vector<float> canvas(GridSize(96, 80), 0.0f);
    ASSERT_TRUE(PadImage(in.data(), canvas.data(), k.data(), 40, 50, 1, side, side, 80, 96, true));
    for (float v : canvas) ASSERT_NEAR(v, 0.42f, 1e-5f) << side;
  }
}

TEST(PadImage, RefusesImpossibleSizes) {
  const std::vector<float> in(GridSize(50, 40), 0.5f), k = Box(5, 5);
  std::vector<float> canvas(GridSize(64, 64));
  EXPECT_FALSE(PadImage(in.data(), canvas.data(), k.data(), 40, 50, 1, 5, 5, 30, 64, true));
  EXPECT_FALSE(PadImage(in.data(), canvas.data(), k.data(), 40, 50, 1, 5, 99, 64, 64, true));
  EXPECT_FALSE(PadImage(in.data(), canvas.data(), k.data(), 40, 50, 0, 5, 5, 64, 64, true));
}
