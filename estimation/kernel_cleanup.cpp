#include "estimation/kernel_cleanup.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "pipeline/spectral.h"
#include "pipeline/pyramid.h"

namespace velmora {

namespace {

float Sum(const float* values, size_t n) {
  float sum = 0.0f;
  for (size_t i = 0; i < n; ++i) sum += values[i];
  return sum;
}

// A tap of the kernel, 0 outside it: a bilinear read at a whole-number
// position on the last row or column reaches one cell past the grid.
float Tap(const float* kernel, int width, int height, int row, int col) {
  if (row < 0 || col < 0 || row >= height || col >= width) return 0.0f;
  return kernel[GridSize(row, width) + col];
}

}  // namespace

void CentreKernel(const float* kernel, float* result, int width, int height) {
  float cy = 0.0f, cx = 0.0f;
  for (int i = 0; i < height; ++i) {
    for (int j = 0; j < width; ++j) {
      const float k = kernel[GridSize(i, width) + j];
      cy += static_cast<float>(i + 1) * k;
      cx += static_cast<float>(j + 1) * k;
    }
  }
  const float dy = cy - static_cast<float>((height + 1) / 2);
  const float dx = cx - static_cast<float>((width + 1) / 2);
  for (int row = 0; row < height; ++row) {
    for (int col = 0; col < width; ++col) {
      const float x = static_cast<float>(col) + dx;
      const float y = static_cast<float>(row) + dy;
      float value = 0.0f;
      if (!(x > static_cast<float>(width - 1) || x < 0.0f || y > static_cast<float>(height - 1) ||
            y < 0.0f)) {
        const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
        const float fx = x - static_cast<float>(x0), fy = y - static_cast<float>(y0);
        value = (1.0f - fx) * (1.0f - fy) * Tap(kernel, width, height, y0, x0) +
                fx * (1.0f - fy) * Tap(kernel, width, height, y0, x0 + 1) +
                (1.0f - fx) * fy * Tap(kernel, width, height, y0 + 1, x0) +
                fx * fy * Tap(kernel, width, height, y0 + 1, x0 + 1);
      }
      result[GridSize(row, width) + col] = value;
    }
  }
}

void CleanUpKernel(float* kernel, float* centred, int kernelRows, int kernelCols, double ratio) {
  const size_t n = GridSize(kernelRows, kernelCols);
  // An estimate gone non-finite would otherwise travel on as NaN and be
  // reported as a success.
  if (!std::isfinite(Sum(kernel, n))) {
    SetImpulse(kernel, kernelRows, kernelCols);
    return;
  }
  float mx = 0.0f;
  for (size_t i = 0; i < n; ++i) mx = std::max(mx, kernel[i]);
  if (mx != 0.0f) {
    const double cut = mx * ratio;
    for (size_t i = 0; i < n; ++i)
      if (kernel[i] <= cut) kernel[i] = 0.0f;
    const float sum = Sum(kernel, n);
    for (size_t i = 0; i < n; ++i) kernel[i] = kernel[i] / sum;
    CentreKernel(kernel, centred, kernelCols, kernelRows);
  } else {
    SetImpulse(centred, kernelRows, kernelCols);
  }
  const float sumCentred = Sum(centred, n);
  if (0.9 * Sum(kernel, n) <= sumCentred)
    for (size_t i = 0; i < n; ++i) kernel[i] = centred[i] / sumCentred;
}

void ShiftToCentre(float* kernel, int kernelRows, int kernelCols) {
  const size_t n = GridSize(kernelRows, kernelCols);
  double sum = 0.0, cy = 0.0, cx = 0.0;
  for (int i = 0; i < kernelRows; ++i)
    for (int j = 0; j < kernelCols; ++j) {
      const double k = kernel[GridSize(i, kernelCols) + j];
      sum += k;
      cy += i * k;
      cx += j * k;
    }
  if (!(sum > 0.0)) return;
  const int dy = kernelRows / 2 - static_cast<int>(std::lround(cy / sum));
  const int dx = kernelCols / 2 - static_cast<int>(std::lround(cx / sum));
  if (dy == 0 && dx == 0) return;
  std::vector<float> moved(n, 0.0f);
  double kept = 0.0;
  for (int i = 0; i < kernelRows; ++i)
    for (int j = 0; j < kernelCols; ++j) {
      const int r = i + dy, c = j + dx;
      if (r < 0 || c < 0 || r >= kernelRows || c >= kernelCols) continue;
      moved[GridSize(r, kernelCols) + c] = kernel[GridSize(i, kernelCols) + j];
      kept += kernel[GridSize(i, kernelCols) + j];
    }
  const float gain = kept > 0.0 ? static_cast<float>(sum / kept) : 0.0f;
  for (size_t i = 0; i < n; ++i) kernel[i] = moved[i] * gain;
}

namespace {

// Calls visit(index) for each of the up to eight neighbours of cell at of a
// rows x cols grid.
template <typename Visit>
void ForEachNeighbour(int at, int rows, int cols, Visit visit) {
  const int r = at / cols, c = at % cols;
  for (int dr = -1; dr <= 1; ++dr)
    for (int dc = -1; dc <= 1; ++dc) {
      const int rr = r + dr, cc = c + dc;
      if ((dr != 0 || dc != 0) && rr >= 0 && cc >= 0 && rr < rows && cc < cols) visit(rr * cols + cc);
    }
}

// Drops the 8-connected pieces of a non-negative kernel that carry less
// than share of its mass.
void PruneWeakPieces(float* kernel, int kernelRows, int kernelCols, float share) {
  const size_t n = GridSize(kernelRows, kernelCols);
  std::vector<int> piece(n, -1);
  std::vector<double> mass;
  std::vector<int> stack;
  double total = 0.0;
  for (size_t start = 0; start < n; ++start) {
    if (kernel[start] <= 0.0f || piece[start] >= 0) continue;
    const int id = static_cast<int>(mass.size());
    mass.push_back(0.0);
    piece[start] = id;
    stack.push_back(static_cast<int>(start));
    while (!stack.empty()) {
      const int at = stack.back();
      stack.pop_back();
      mass[id] += kernel[at];
      ForEachNeighbour(at, kernelRows, kernelCols, [&](int next) {
        if (kernel[next] > 0.0f && piece[next] < 0) {
          piece[next] = id;
          stack.push_back(next);
        }
      });
    }
    total += mass[id];
  }
  for (size_t i = 0; i < n; ++i)
    if (piece[i] >= 0 && mass[piece[i]] < share * total) kernel[i] = 0.0f;
}

}  // namespace

bool CleanUpSharpKernel(float* kernel, int kernelRows, int kernelCols, float cutRatio,
                        float keepConnectedRatio, float pruneShare) {
  const size_t n = GridSize(kernelRows, kernelCols);
  float mx = 0.0f;
  for (size_t i = 0; i < n; ++i) {
    if (!std::isfinite(kernel[i])) return false;
    mx = std::max(mx, kernel[i]);
  }
  if (!(mx > 0.0f)) return false;
  // Strong entries are kept; weaker ones that touch the kept part join it,
  // spreading along faint stretches of the path.
  const float strong = cutRatio * mx, weak = std::min(keepConnectedRatio, cutRatio) * mx;
  std::vector<char> keep(n, 0);
  std::vector<int> frontier;
  for (size_t i = 0; i < n; ++i)
    if (kernel[i] >= strong) {
      keep[i] = 1;
      frontier.push_back(static_cast<int>(i));
    }
  while (!frontier.empty()) {
    const int at = frontier.back();
    frontier.pop_back();
    ForEachNeighbour(at, kernelRows, kernelCols, [&](int next) {
      if (!keep[next] && kernel[next] >= weak && kernel[next] > 0.0f) {
        keep[next] = 1;
        frontier.push_back(next);
      }
    });
  }
  for (size_t i = 0; i < n; ++i)
    if (!keep[i]) kernel[i] = 0.0f;
  if (pruneShare > 0.0f) PruneWeakPieces(kernel, kernelRows, kernelCols, pruneShare);
  double sum = 0.0;
  for (size_t i = 0; i < n; ++i) sum += kernel[i];
  for (size_t i = 0; i < n; ++i) kernel[i] = static_cast<float>(kernel[i] / sum);
  ShiftToCentre(kernel, kernelRows, kernelCols);
  return true;
}

bool IsImpulseLike(const float* kernel, int kernelRows, int kernelCols) {
  const size_t n = GridSize(kernelRows, kernelCols);
  size_t above = 0, strong = 0;
  for (size_t i = 0; i < n; ++i) {
    if (kernel[i] > 1e-5) ++above;
    if (kernel[i] > 0.2) ++strong;
  }
  return above < 25 && strong >= 1;
}

}  // namespace velmora
