#include "estimation/prediction.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "estimation/level_spectra.h"
#include "estimation/orientation_bins.h"
#include "estimation/shock_filter.h"
#include "pipeline/parallel_for.h"
#include "src/cuestimatekernel.h"

namespace velmora {

namespace {

cv::Mat Wrap(const float* plane, int rows, int cols) {
  return cv::Mat(rows, cols, CV_32F, const_cast<float*>(plane));
}

// The smallest over the four bins of each bin's k-th largest value; grouped
// (n floats) is scratch.
float SmallestBinSelection(const float* values, const uint8_t* bins, size_t n, std::ptrdiff_t k,
                           float* grouped) {
  size_t count[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < n; ++i) ++count[bins[i]];
  size_t start[4] = {0, count[0], count[0] + count[1], count[0] + count[1] + count[2]};
  size_t fill[4] = {start[0], start[1], start[2], start[3]};
  for (size_t i = 0; i < n; ++i) grouped[fill[bins[i]]++] = values[i];
  // The four bins are separate ranges: they are searched side by side.
  float selected[4];
#pragma omp parallel for schedule(static, 1) if (n >= kParallelSamples)
  for (int b = 0; b < 4; ++b) {
    const auto first = static_cast<std::ptrdiff_t>(start[b]);
    const auto last = first + static_cast<std::ptrdiff_t>(count[b]) - 1;
    selected[b] = SelectKthLargest(grouped, first, last, k);
  }
  return std::min(std::min(selected[0], selected[1]), std::min(selected[2], selected[3]));
}

}  // namespace

void ForwardGradients(const float* image, float* gx, float* gy, int rows, int cols) {
  // The last column and row mirror without repeating the edge sample: the
  // difference there is s(n - 2) - s(n - 1).
  const int lastCol = cols >= 2 ? cols - 2 : 0;
  VELMORA_PARALLEL_FOR(GridSize(rows, cols))
  for (int y = 0; y < rows; ++y) {
    const float* row = image + GridSize(y, cols);
    const float* next = image + GridSize(y + 1 < rows ? y + 1 : (rows >= 2 ? rows - 2 : 0), cols);
    float* ox = gx + GridSize(y, cols);
    float* oy = gy + GridSize(y, cols);
    for (int x = 0; x + 1 < cols; ++x) ox[x] = row[x + 1] - row[x];
    ox[cols - 1] = row[lastCol] - row[cols - 1];
    for (int x = 0; x < cols; ++x) oy[x] = next[x] - row[x];
  }
}

PredictionParams InitialPredictionParams(const float* image, int width, int height,
                                         int kernelWidth, int kernelHeight) {
  PredictionParams p;
  p.image = image;
  p.width = width;
  p.height = height;
  p.kernelWidth = kernelWidth;
  p.kernelHeight = kernelHeight;
  return p;
}

void ComputeScaleMap(const LevelSpectra& spectra, float* scaleMap, int rows, int cols,
                     int windowRows, int windowCols) {
  const cv::Mat bx = Wrap(spectra.Bx.get(), rows, cols);
  const cv::Mat by = Wrap(spectra.By.get(), rows, cols);
  const cv::Size window(windowCols, windowRows);
  const cv::Point centre(-1, -1);
  // Numerator first, then the denominator, in the same two means: three
  // planes of scratch instead of six.
  cv::Mat first(rows, cols, CV_32F), second(rows, cols, CV_32F), magnitude(rows, cols, CV_32F);
  auto combine = [&](bool divide) {
    VELMORA_PARALLEL_FOR(GridSize(rows, cols))
    for (int y = 0; y < rows; ++y) {
      const float* a = first.ptr<float>(y);
      const float* b = second.ptr<float>(y);
      float* out = scaleMap + GridSize(y, cols);
      for (int x = 0; x < cols; ++x) {
        const float length = std::sqrt(a[x] * a[x] + b[x] * b[x]);
        out[x] = divide ? out[x] / (length + 1.0f) : length;
      }
    }
  };
  cv::boxFilter(bx, first, CV_32F, window, centre, true, cv::BORDER_REFLECT_101);
  cv::boxFilter(by, second, CV_32F, window, centre, true, cv::BORDER_REFLECT_101);
  combine(false);
  cv::absdiff(bx, cv::Scalar::all(0), magnitude);
  cv::boxFilter(magnitude, first, CV_32F, window, centre, true, cv::BORDER_REFLECT_101);
  cv::absdiff(by, cv::Scalar::all(0), magnitude);
  cv::boxFilter(magnitude, second, CV_32F, window, centre, true, cv::BORDER_REFLECT_101);
  combine(true);
}

float SelectKthLargest(float* values, std::ptrdiff_t first, std::ptrdiff_t last,
                       std::ptrdiff_t k) {
  if (last < first) return 0.0f;
  float* begin = values + first;
  float* end = values + last + 1;
  if (k > last - first + 1) return *std::min_element(begin, end);
  // nth_element instead of a plain first-element quickselect: the ranges
  // are full of equal values (zeros of masked or flat areas), on which that
  // recursion turns quadratic and deep.
  float* nth = begin + (k < 1 ? 0 : k - 1);
  std::nth_element(begin, nth, end, std::greater<float>());
  return *nth;
}

void CImageMyPredictionEngine::SetParameters(const PredictionParams& p, const float* map,
                                             float scale) {
  image_ = p.image;
  width_ = p.width;
  height_ = p.height;
  kernelWidth_ = p.kernelWidth;
  kernelHeight_ = p.kernelHeight;
  sigma_ = p.sigma;
  decay_ = p.decay;
  gradThreshold_ = p.gradThreshold;
  dt_ = p.dt;
  h_ = p.h;
  shockIterations_ = p.shockIterations;
  scaleThreshold_ = p.scaleThreshold;
  scaleMap_ = map;
  tscale_ = scale;
}

void CImageMyPredictionEngine::SetWorkspace(float* planeA, float* planeB, float* gradXPlane,
                                            float* gradYPlane) {
  scratchA_ = planeA;
  scratchB_ = planeB;
  gradXOut_ = gradXPlane;
  gradYOut_ = gradYPlane;
}

void CImageMyPredictionEngine::Predict(bool cpuFlag) {
  const size_t n = GridSize(height_, width_);
  if (!gradXOut_ && gradX_.size() != n) {
    gradX_ = FloatArray(n);
    gradY_ = FloatArray(n);
  }
  float* gxw = gradXOut_ ? gradXOut_ : gradX_.get();
  float* gyw = gradYOut_ ? gradYOut_ : gradY_.get();
  FloatArray ownA, ownB;
  float* a = scratchA_;
  float* b = scratchB_;
  if (!a || !b) {
    ownA = FloatArray(n);
    ownB = FloatArray(n);
    a = ownA.get();
    b = ownB.get();
  }
  cv::Mat blurred = Wrap(a, height_, width_);
  cv::GaussianBlur(Wrap(image_, height_, width_), blurred, cv::Size(5, 5), sigma_, sigma_,
                   cv::BORDER_REFLECT_101);
  sigma_ = sigma_ * decay_;

  if (cpuFlag)
    ShockFilter(a, b, width_, height_, shockIterations_, dt_, h_);
  else
    gpu::ShockFilterGpu(a, b, width_, height_, shockIterations_, dt_, h_);
  dt_ = dt_ * decay_;

  ForwardGradients(b, gxw, gyw, height_, width_);

  // The blurred and the shocked planes are spent: a takes the masked
  // gradient magnitude, b is scratch for the threshold selections.
  if (scaleThreshold_ < -10.0f) scaleThreshold_ = AutomaticScaleThreshold(b);
  const float maskThreshold = scaleThreshold_;
  scaleThreshold_ = static_cast<float>(scaleThreshold_ * 0.7);
  const float* map = scaleMap_;
  auto magnitude = [gxw, gyw, map, maskThreshold](size_t i) {
    return std::sqrt(gxw[i] * gxw[i] + gyw[i] * gyw[i]) * (map[i] >= maskThreshold ? 1.0f : 0.0f);
  };
  if (gradThreshold_ <= 0.0f) {
    // The threshold is chosen among all the magnitudes: they are kept.
    float* magnitudes = a;
    VELMORA_PARALLEL_FOR(n)
    for (size_t i = 0; i < n; ++i) magnitudes[i] = magnitude(i);
    gradThreshold_ = AutomaticGradientThreshold(magnitudes, b);
  }
  const float threshold = gradThreshold_;
  VELMORA_PARALLEL_FOR(n)
  for (size_t i = 0; i < n; ++i) {
    const bool weak = magnitude(i) <= threshold;
    gxw[i] = weak ? 0.0f : gxw[i];
    gyw[i] = weak ? 0.0f : gyw[i];
  }
  gradThreshold_ = gradThreshold_ * decay_;
}

float CImageMyPredictionEngine::AutomaticGradientThreshold(const float* magnitude, float* scratch) {
  const size_t n = GridSize(height_, width_);
  bins_.resize(n);
  uint8_t* bins = bins_.data();
  GradientBins(GradX(), GradY(), bins, n);
  return SmallestBinSelection(magnitude, bins, n, 2 * std::max(kernelWidth_, kernelHeight_), scratch);
}

float CImageMyPredictionEngine::AutomaticScaleThreshold(float* scratch) {
  const size_t n = GridSize(height_, width_);
  bins_.resize(n);
  uint8_t* bins = bins_.data();
  // Forward differences, 0 past the last column and row; the comparisons
  // first, atan2 where they cannot tell.
  auto difference = [&](int y, int x, float* dx, float* dy) {
    const float* row = image_ + GridSize(y, width_);
    *dx = x + 1 < width_ ? row[x + 1] - row[x] : 0.0f;
    *dy = y + 1 < height_ ? row[x + width_] - row[x] : 0.0f;
  };
  VELMORA_PARALLEL_FOR(n)
  for (int y = 0; y < height_; ++y) {
    uint8_t* out = bins + GridSize(y, width_);
    for (int x = 0; x < width_; ++x) {
      float dx, dy;
      difference(y, x, &dx, &dy);
      out[x] = QuickScaleBin(dx, dy);
    }
    for (int x = 0; x < width_; ++x) {
      if (out[x] != kUndecidedBin) continue;
      float dx, dy;
      difference(y, x, &dx, &dy);
      out[x] = ScaleBin(dx, dy);
    }
  }
  const int mk = std::max(kernelWidth_, kernelHeight_);
  const float quotient = static_cast<float>(n) / static_cast<float>(kernelHeight_) /
                         static_cast<float>(kernelWidth_);
  const float scaled = std::sqrt(quotient) * tscale_ * static_cast<float>(mk) * static_cast<float>(mk);
  // A count of 0 (a tiny tscale) would select nothing: take the largest.
  const auto k = std::max<std::ptrdiff_t>(1, static_cast<std::ptrdiff_t>(scaled + 0.5));
  return std::min(SmallestBinSelection(scaleMap_, bins, n, k, scratch), 0.05f);
}

void CImageMyPredictionEngine::ComputeScaleMask(float* mask) {
  const size_t n = GridSize(height_, width_);
  if (scaleThreshold_ < -10.0f) {
    FloatArray scratch(n);
    scaleThreshold_ = AutomaticScaleThreshold(scratch.get());
  }
  for (size_t i = 0; i < n; ++i) mask[i] = scaleMap_[i] >= scaleThreshold_ ? 1.0f : 0.0f;
}

}  // namespace velmora
