// Separable triangle-filter resampling of single-plane float images, with
// antialiasing when shrinking. Sizes and weights are part of the engine's
// contract: pyramids built elsewhere allocate from the same formulas.
#pragma once

#include <vector>

namespace velmora {

// Contribution table of one dimension: taps source indices and weights per
// output index (row-major, outLength x taps).
struct ResampleTable {
  int taps = 0;
  std::vector<int> index;
  std::vector<float> weight;
};

// shrink: kernel width 2 / scale; enlarge: plain triangle of width 2.
ResampleTable BuildResampleTable(int inLength, int outLength, float scale, bool shrink,
                                 bool enlarge);

// Resizes rows x cols by scale into destination, which must hold
// ScaledSize(rows, scale) x ScaledSize(cols, scale) floats.
void ResizeByScale(const float* source, float* destination, int rows, int cols, float scale);

// Resizes rows x cols to exactly outRows x outCols.
void ResizeToSize(const float* source, float* destination, int rows, int cols, int outRows,
                  int outCols);

}  // namespace velmora
