#include "estimation/noise_level.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>

namespace velmora {

namespace {

// The median of |x| for a normal x of unit deviation.
constexpr double kHalfNormalMedian = 0.6744897501960817;

// The share of the measurable cells, the quietest, that the median is taken
// over: it leaves a 1 MP picture some 35 000 cells (the median then wanders
// by under 1 %) while dropping most of the cells near the detail a shake
// leaves sharp. Larger shares read foliage markedly higher at low noise.
constexpr double kQuietShare = 0.15;

// Cells reaching this far (in cells) around a cell judge how much picture
// detail surrounds it: 48 neighbours tell a textured neighbourhood from a
// merely noisy one better than 8 or 24 do.
constexpr int kReach = 3;

// Values closer than this are one tie group: single-precision sums of
// samples on a lattice land within a few units of the last place (1e-7 near
// 1) of the lattice point, and the finest lattice in use, grey made from
// 8-bit colour with weights in thousandths, is 2e-6 apart in d.
constexpr float kTieWidth = 1e-6f;

// The median of values[0, n), read inside its tie group as if the group
// were spread evenly over the span halfway to its neighbouring values. For
// continuous values the group is one value and this is the plain median;
// for values on a lattice it interpolates within the lattice step instead of
// jumping from point to point. values are non-negative; reordered.
double GroupedMedian(float* values, size_t n) {
  std::nth_element(values, values + n / 2, values + n);
  const float v = values[n / 2];
  size_t below = 0, tied = 0;
  float lower = -1.0f, upper = std::numeric_limits<float>::infinity();
  for (size_t i = 0; i < n; ++i) {
    const float x = values[i];
    if (x < v - kTieWidth) {
      ++below;
      lower = std::max(lower, x);
    } else if (x <= v + kTieWidth) {
      ++tied;
    } else {
      upper = std::min(upper, x);
    }
  }
  const bool hasLower = lower >= 0.0f, hasUpper = std::isfinite(upper);
  if (!hasLower && !hasUpper) return v;
  double lo = hasLower ? 0.5 * (lower + v) : 0.0;
  double hi = hasUpper ? 0.5 * (v + upper) : 0.0;
  // A group at an end of the range gets as much room on its open side as on
  // the other; |d| cannot go below 0.
  if (!hasLower) lo = std::max(0.0, v - (hi - v));
  if (!hasUpper) hi = v + (v - lo);
  return lo + (0.5 * static_cast<double>(n) - static_cast<double>(below)) / static_cast<double>(tied) * (hi - lo);
}

}  // namespace

namespace {

// Each 2 x 2 cell's |d| into detail (NaN: left out, where a sample is
// clipped), and its value into flatValue while all four samples are equal
// (NaN otherwise).
void MeasureCells(const float* grey, int cols, int cellRows, int cellCols, float* detail,
                  float* flatValue) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (int r = 0; r < cellRows; ++r) {
    const float* top = grey + static_cast<size_t>(2 * r) * cols;
    const float* bottom = top + cols;
    float* out = detail + static_cast<size_t>(r) * cellCols;
    float* flat = flatValue + static_cast<size_t>(r) * cellCols;
    for (int c = 0; c < cellCols; ++c) {
      const float a = top[2 * c], b = top[2 * c + 1], p = bottom[2 * c], q = bottom[2 * c + 1];
      const bool clipped = std::min(std::min(a, b), std::min(p, q)) == 0.0f ||
                           std::max(std::max(a, b), std::max(p, q)) == 1.0f;
      const float d = 0.5f * std::fabs((a - b) - (p - q));
      out[c] = clipped || !std::isfinite(d) ? nan : d;
      flat[c] = a == b && a == p && a == q ? a : nan;
    }
  }
}

// A flat cell alone is chance on quantised data with little noise (at half
// an 8-bit level a fifth of the cells are), and its d of 0 belongs to the
// noise's distribution. A constant area of at least 4 x 4 samples is a
// clipped or painted region that carries no noise at all: its cells are
// left out.
void LeaveOutFlatAreas(const float* flatValue, int cellRows, int cellCols, float* detail) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  auto sameFlat = [&](int r, int c, float v) {
    return r >= 0 && r < cellRows && c >= 0 && c < cellCols && flatValue[static_cast<size_t>(r) * cellCols + c] == v;
  };
  for (int r = 0; r < cellRows; ++r)
    for (int c = 0; c < cellCols; ++c) {
      const float v = flatValue[static_cast<size_t>(r) * cellCols + c];
      if (std::isnan(v)) continue;
      for (int br = r - 1; br <= r; ++br)
        for (int bc = c - 1; bc <= c; ++bc)
          if (sameFlat(br, bc, v) && sameFlat(br, bc + 1, v) && sameFlat(br + 1, bc, v) && sameFlat(br + 1, bc + 1, v))
            detail[static_cast<size_t>(r) * cellCols + c] = nan;
    }
}

// The detail energy of each cell's neighbourhood into activity, across each
// row (into scratch), then down the columns; NaN wherever a neighbourhood
// reaches past the border or over a left-out cell: next to a clipped area
// the noise is partly cut too. The measurable energies end up at the start
// of scratch; returns their count.
size_t MeasureActivity(const float* detail, int cellRows, int cellCols, float* activity,
                       float* scratch) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const size_t cells = static_cast<size_t>(cellRows) * cellCols;
  for (int r = 0; r < cellRows; ++r) {
    const float* in = detail + static_cast<size_t>(r) * cellCols;
    float* out = scratch + static_cast<size_t>(r) * cellCols;
    for (int c = 0; c < kReach; ++c) out[c] = out[cellCols - 1 - c] = nan;
    for (int c = kReach; c < cellCols - kReach; ++c) {
      float sum = 0.0f;
      for (int k = -kReach; k <= kReach; ++k) sum += in[c + k] * in[c + k];
      out[c] = sum;
    }
  }
  std::fill(activity, activity + static_cast<size_t>(kReach) * cellCols, nan);
  std::fill(activity + static_cast<size_t>(cellRows - kReach) * cellCols, activity + cells, nan);
  for (int r = kReach; r < cellRows - kReach; ++r) {
    const size_t at = static_cast<size_t>(r) * cellCols;
    for (int c = 0; c < cellCols; ++c) {
      float sum = 0.0f;
      for (int k = -kReach; k <= kReach; ++k) sum += scratch[at + static_cast<ptrdiff_t>(k) * cellCols + c];
      // The cell's own detail is taken back out so that the choice does
      // not depend on its noise; a NaN of its own leaves it out too.
      activity[at + c] = sum - detail[at + c] * detail[at + c];
    }
  }
  size_t measurable = 0;
  for (size_t i = 0; i < cells; ++i)
    if (!std::isnan(activity[i])) scratch[measurable++] = activity[i];
  return measurable;
}

}  // namespace

double EstimateNoiseSigma(const float* grey, int rows, int cols) {
  const int cellRows = rows / 2, cellCols = cols / 2;
  if (cellRows <= 0 || cellCols <= 0) return 0.0;
  const size_t cells = static_cast<size_t>(cellRows) * cellCols;
  // Three planes of cells: each cell's |d| (NaN: left out), the detail
  // energy of its neighbourhood (NaN: not measurable), and scratch for the
  // row sums of that energy and later for the values whose median is taken.
  // The activity plane holds each cell's flat value until the
  // neighbourhoods are measured.
  const std::unique_ptr<float[]> buffer(new float[3 * cells]);
  float* const detail = buffer.get();
  float* const activity = detail + cells;
  float* const scratch = activity + cells;
  MeasureCells(grey, cols, cellRows, cellCols, detail, activity);
  LeaveOutFlatAreas(activity, cellRows, cellCols, detail);
  const size_t measurable = cellRows > 2 * kReach && cellCols > 2 * kReach
                                ? MeasureActivity(detail, cellRows, cellCols, activity, scratch)
                                : 0;
  size_t chosen = 0;
  if (measurable > 0) {
    // The quietest share: the cells whose neighbourhood energy is at most
    // that of the share's last cell.
    const size_t quiet = std::max<size_t>(1, static_cast<size_t>(kQuietShare * static_cast<double>(measurable)));
    std::nth_element(scratch, scratch + (quiet - 1), scratch + measurable);
    const float limit = scratch[quiet - 1];
    for (size_t i = 0; i < cells; ++i)
      if (activity[i] <= limit) scratch[chosen++] = detail[i];
  } else {
    // Too small for neighbourhoods, or every one reaches the border or a
    // left-out cell: all the cells that remain count.
    for (size_t i = 0; i < cells; ++i)
      if (!std::isnan(detail[i])) scratch[chosen++] = detail[i];
  }
  if (chosen == 0) return 0.0;
  return GroupedMedian(scratch, chosen) / kHalfNormalMedian;
}

}  // namespace velmora
