// Kernel clean-up between solves: re-centring, its rejection, thresholding
// and the replacements for estimates with nothing usable in them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "estimation/kernel_cleanup.h"

using namespace velmora;

namespace {

struct Centroid {
  double row = 0, col = 0, mass = 0;
};

Centroid CentroidOf(const std::vector<float>& k, int rows, int cols) {
  Centroid c;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      c.row += i * k[i * cols + j];
      c.col += j * k[i * cols + j];
      c.mass += k[i * cols + j];
    }
  c.row /= c.mass;
  c.col /= c.mass;
  return c;
}

TEST(CentreKernel, MovesTheCentreOfMassToTheCentreCell) {
  const int rows = 7, cols = 9;
  std::vector<float> k(rows * cols, 0.0f), out(rows * cols);
  k[2 * cols + 5] = 0.5f;  // a short streak right of and above the centre
  k[2 * cols + 6] = 0.3f;
  k[3 * cols + 6] = 0.2f;
  const std::vector<float> before = k;
  CentreKernel(k.data(), out.data(), cols, rows);
  EXPECT_EQ(k, before);  // the input is left alone
  const Centroid c = CentroidOf(out, rows, cols);
  EXPECT_NEAR(c.row, rows / 2, 1e-5);
  EXPECT_NEAR(c.col, cols / 2, 1e-5);
  EXPECT_NEAR(c.mass, 1.0, 1e-5);
  // An already centred kernel comes back unchanged.
  std::vector<float> centred(rows * cols, 0.0f), again(rows * cols);
  centred[3 * cols + 3] = 0.25f;
  centred[3 * cols + 5] = 0.25f;
  centred[3 * cols + 4] = 0.5f;
  CentreKernel(centred.data(), again.data(), cols, rows);
  EXPECT_EQ(again, centred);
}

TEST(CentreKernel, WholeShiftOntoTheLastColumnReadsNothingPastTheGrid) {
  // A single tap in the last column: the centre cell samples exactly the
  // last column, where the bilinear read's right neighbour lies outside the
  // grid. Whatever follows the buffer must not leak in.
  const int rows = 5, cols = 5;
  std::vector<float> buffer(rows * cols + cols + 1, std::numeric_limits<float>::quiet_NaN());
  std::fill_n(buffer.begin(), rows * cols, 0.0f);
  buffer[4 * cols + 4] = 1.0f;  // bottom-right corner: both neighbours outside
  std::vector<float> out(rows * cols);
  CentreKernel(buffer.data(), out.data(), cols, rows);
  for (int i = 0; i < rows * cols; ++i) EXPECT_EQ(out[i], i == rows * cols / 2 ? 1.0f : 0.0f) << i;
}

TEST(CleanUpKernel, CutsNormalisesAndCentres) {
  const int rows = 5, cols = 5;
  std::vector<float> k(rows * cols, 0.0f), scratch(rows * cols);
  k[0] = 0.0069f;           // below 0.07 of the maximum: cut
  k[1 * cols + 1] = -0.3f;  // negative: cut
  k[2 * cols + 3] = 0.1f;   // a tap right of the centre
  k[2 * cols + 4] = 0.0069f; // likewise
  CleanUpKernel(k.data(), scratch.data(), rows, cols, 0.07);
  for (int i = 0; i < rows * cols; ++i) EXPECT_EQ(k[i], i == rows * cols / 2 ? 1.0f : 0.0f) << i;
}

TEST(CleanUpKernel, KeepsTheUncentredKernelWhenCentringLosesMass) {
  // Mass against the left border: centring pushes 24 % of it out.
  const int rows = 5, cols = 5;
  std::vector<float> k(rows * cols, 0.0f), scratch(rows * cols);
  k[2 * cols + 0] = 1.2f;
  k[2 * cols + 1] = 0.8f;
  CleanUpKernel(k.data(), scratch.data(), rows, cols, 0.07);
  std::vector<float> expected(rows * cols, 0.0f);
  expected[2 * cols + 0] = 0.6f;
  expected[2 * cols + 1] = 0.4f;
  for (int i = 0; i < rows * cols; ++i) EXPECT_FLOAT_EQ(k[i], expected[i]) << i;
}

TEST(CleanUpKernel, NothingUsableBecomesTheImpulse) {
  const int rows = 3, cols = 5;
  std::vector<float> impulse(rows * cols, 0.0f), scratch(rows * cols);
  impulse[rows * cols / 2] = 1.0f;
  std::vector<float> zeros(rows * cols, 0.0f);
  CleanUpKernel(zeros.data(), scratch.data(), rows, cols, 0.07);
  EXPECT_EQ(zeros, impulse);
  std::vector<float> negative(rows * cols, -0.1f);
  CleanUpKernel(negative.data(), scratch.data(), rows, cols, 0.07);
  EXPECT_EQ(negative, impulse);
  for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    std::vector<float> k(rows * cols, 0.05f);
    k[3] = bad;
    CleanUpKernel(k.data(), scratch.data(), rows, cols, 0.07);
    EXPECT_EQ(k, impulse);
  }
}

TEST(IsImpulseLike, CountsAndStrongTap) {
  const int rows = 7, cols = 7;
  std::vector<float> k(rows * cols, 0.0f);
  k[24] = 0.21f;
  for (int i = 0; i < 23; ++i) k[i] = 2e-5f;  // 24 entries above 1e-5
  EXPECT_TRUE(IsImpulseLike(k.data(), rows, cols));
  k[30] = 2e-5f;  // 25
  EXPECT_FALSE(IsImpulseLike(k.data(), rows, cols));
  k[30] = 1e-5f;  // not above
  EXPECT_TRUE(IsImpulseLike(k.data(), rows, cols));
  k[24] = 0.19f;  // no entry above 0.2
  EXPECT_FALSE(IsImpulseLike(k.data(), rows, cols));
}

}  // namespace
