#include "pipeline/parallel_for.h"
#include "pipeline/resample.h"

#include <algorithm>
#include <cmath>

#include "pipeline/spectral.h"

namespace velmora {

ResampleTable BuildResampleTable(int inLength, int outLength, float scale, bool shrink,
                                 bool enlarge) {
  const float s = scale;
  const float kw = shrink ? 2.0f / s : 2.0f;
  ResampleTable table;
  table.taps = static_cast<int>(CeilF(kw)) + 2;
  const int taps = table.taps;
  table.index.resize(static_cast<size_t>(outLength) * taps);
  table.weight.resize(static_cast<size_t>(outLength) * taps);
  const double sd = s;
  for (int o = 0; o < outLength; ++o) {
    const float u = static_cast<float>((o + 1) / sd + 0.5 * (1.0 - 1.0 / sd) - 1.0);
    const int left = static_cast<int>(FloorF(u - kw / 2.0f));
    int* idx = &table.index[static_cast<size_t>(o) * taps];
    float* w = &table.weight[static_cast<size_t>(o) * taps];
    float sum = 0.0f;
    for (int p = 0; p < taps; ++p) {
      const int index = left + p;
      const float d = u - static_cast<float>(index);
      float weight;
      if (enlarge) {
        weight = std::max(1.0f - std::fabs(d), 0.0f);
      } else {
        const float sdist = s * d;
        weight = s * std::max(1.0f - std::fabs(sdist), 0.0f);
      }
      idx[p] = std::clamp(index, 0, inLength - 1);
      w[p] = weight;
      sum += weight;
    }
    for (int p = 0; p < taps; ++p) w[p] = w[p] / sum;
  }
  return table;
}

namespace {

// Filters every column: rows x cols -> outRows x cols.
void FilterColumns(const float* src, float* dst, int cols, int outRows, const ResampleTable& t) {
  VELMORA_PARALLEL_FOR(GridSize(outRows, cols))
  for (int o = 0; o < outRows; ++o) {
    float* out = dst + static_cast<size_t>(o) * cols;
    std::fill(out, out + cols, 0.0f);
    for (int p = 0; p < t.taps; ++p) {
      const size_t k = static_cast<size_t>(o) * t.taps + p;
      const float w = t.weight[k];
      const float* in = src + static_cast<size_t>(t.index[k]) * cols;
      for (int j = 0; j < cols; ++j) out[j] += w * in[j];
    }
  }
}

// Filters every row: rows x cols -> rows x outCols.
void FilterRows(const float* src, float* dst, int rows, int cols, int outCols,
                const ResampleTable& t) {
  VELMORA_PARALLEL_FOR(GridSize(rows, outCols))
  for (int i = 0; i < rows; ++i) {
    const float* in = src + static_cast<size_t>(i) * cols;
    float* out = dst + static_cast<size_t>(i) * outCols;
    for (int o = 0; o < outCols; ++o) {
      const int* idx = &t.index[static_cast<size_t>(o) * t.taps];
      const float* w = &t.weight[static_cast<size_t>(o) * t.taps];
      float acc = 0.0f;
      for (int p = 0; p < t.taps; ++p) acc += w[p] * in[idx[p]];
      out[o] = acc;
    }
  }
}

}  // namespace

void ResizeByScale(const float* source, float* destination, int rows, int cols, float scale) {
  const int outRows = ScaledSize(rows, scale);
  const int outCols = ScaledSize(cols, scale);
  const bool shrink = scale < 1.0f;
  const bool enlarge = scale > 1.0f;
  const ResampleTable vertical = BuildResampleTable(rows, outRows, scale, shrink, enlarge);
  const ResampleTable horizontal = BuildResampleTable(cols, outCols, scale, shrink, enlarge);
  FloatArray temp(GridSize(outRows, cols));
  FilterColumns(source, temp.get(), cols, outRows, vertical);
  FilterRows(temp.get(), destination, outRows, cols, outCols, horizontal);
}

void ResizeToSize(const float* source, float* destination, int rows, int cols, int outRows,
                  int outCols) {
  const float sr = static_cast<float>(outRows) / static_cast<float>(rows);
  const float sc = static_cast<float>(outCols) / static_cast<float>(cols);
  const bool shrink = sr < 1.0f && sc < 1.0f;
  const bool enlarge = sr > 1.0f || sc > 1.0f;
  const ResampleTable vertical = BuildResampleTable(rows, outRows, sr, shrink, enlarge);
  const ResampleTable horizontal = BuildResampleTable(cols, outCols, sc, shrink, enlarge);
  if (sc >= sr) {
    FloatArray temp(GridSize(outRows, cols));
    FilterColumns(source, temp.get(), cols, outRows, vertical);
    FilterRows(temp.get(), destination, outRows, cols, outCols, horizontal);
  } else {
    FloatArray temp(GridSize(rows, outCols));
    FilterRows(source, temp.get(), rows, cols, outCols, horizontal);
    FilterColumns(temp.get(), destination, outCols, outRows, vertical);
  }
}

}  // namespace velmora

