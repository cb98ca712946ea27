// Transfer-function energies of the difference filters that the solvers and
// the padding regularise with, in closed form instead of transforming the
// taps: on a rows x cols grid the first difference along a row has
// |F|^2 = 2 - 2 cos(2 pi j / cols) at column frequency j, and every filter
// used is a product of such differences.
#pragma once

#include <vector>

namespace velmora {

struct DifferenceEnergies {
  DifferenceEnergies(int rows, int cols);
  // a[j]: 2 - 2 cos(2 pi j / cols); b[i]: 2 - 2 cos(2 pi i / rows).
  std::vector<float> a, b;

  // |F(dx)|^2 + |F(dy)|^2 of the first differences.
  float First(int i, int j) const { return a[j] + b[i]; }
  // |F(dxx)|^2 + |F(dyy)|^2 + |F(dxy)|^2 of the second differences.
  float Second(int i, int j) const { return a[j] * a[j] + b[i] * b[i] + a[j] * b[i]; }
  // 1 + 0.5 First + 0.25 Second: the weight that favours smooth results.
  float Weight(int i, int j) const { return 1.0f + 0.5f * First(i, j) + 0.25f * Second(i, j); }
};

}  // namespace velmora
