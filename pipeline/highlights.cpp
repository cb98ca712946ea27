#include "pipeline/highlights.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

#include "pipeline/parallel_for.h"
#include "pipeline/spectral.h"

namespace velmora {

float SrgbToLinear(float v) {
  return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f);
}

float LinearToSrgb(float v) {
  return v <= 0.0031308f ? 12.92f * v : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f;
}

void SrgbToLinear(float* samples, size_t count) {
  VELMORA_PARALLEL_FOR(count)
  for (size_t i = 0; i < count; ++i) samples[i] = SrgbToLinear(samples[i]);
}

void LinearToSrgb(float* samples, size_t count) {
  VELMORA_PARALLEL_FOR(count)
  for (size_t i = 0; i < count; ++i) samples[i] = LinearToSrgb(samples[i]);
}

size_t CountClipped(const float* samples, size_t count) {
  size_t clipped = 0;
  for (size_t i = 0; i < count; ++i) clipped += samples[i] >= kClipLevel;
  return clipped;
}

bool ModelsHighlights(Highlights highlights, const float* planes, int rows, int cols, int channels) {
  if (highlights != Highlights::kModel) return false;
  const size_t plane = GridSize(rows, cols);
  size_t pixels = 0;
  for (size_t i = 0; i < plane && pixels < kLeastClippedPixels; ++i) {
    bool clipped = false;
    for (int c = 0; c < channels; ++c) clipped |= planes[plane * c + i] >= kClipLevel;
    pixels += clipped;
  }
  return pixels >= kLeastClippedPixels;
}

bool ShowsClippedHighlights(const cv::Mat& picture) {
  if (picture.empty()) return false;
  const double scale = picture.depth() == CV_8U ? 255.0 : picture.depth() == CV_16U ? 65535.0 : 1.0;
  cv::Mat top;  // each pixel's brightest sample
  if (picture.channels() == 1) {
    top = picture;
  } else {
    std::vector<cv::Mat> planes;
    cv::split(picture, planes);
    top = planes[0];
    for (size_t c = 1; c < planes.size(); ++c) top = cv::max(top, planes[c]);
  }
  cv::Mat clipped;
  cv::compare(top, kClipLevel * scale, clipped, cv::CMP_GE);
  return cv::countNonZero(clipped) >= kLeastClippedPixels;
}

EstimationPicture::EstimationPicture(const float* planes, int rows, int cols, int channels,
                                     Highlights highlights)
    : planes_(planes) {
  if (!ModelsHighlights(highlights, planes, rows, cols, channels)) return;
  linear_.assign(planes, planes + GridSize(rows, cols) * channels);
  SrgbToLinear(linear_.data(), linear_.size());
}

std::vector<size_t> ClippedIndices(const float* picture, int rows, int cols, int planeCols, int top,
                                     int left) {
  std::vector<size_t> indices;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      if (picture[GridSize(i, cols) + j] >= kClipLevel)
        indices.push_back(GridSize(i + top, planeCols) + j + left);
  return indices;
}

std::vector<uint8_t> ClippedFootprint(const float* plane, int rows, int cols, int rowRadius,
                                      int colRadius) {
  std::vector<uint8_t> mask(GridSize(rows, cols));
  for (size_t i = 0; i < mask.size(); ++i) mask[i] = plane[i] >= kClipLevel;
  if (rowRadius > 0 || colRadius > 0) {
    cv::Mat m(rows, cols, CV_8U, mask.data());
    // A box of the kernel's size: whatever the path, it lies inside it.
    cv::dilate(m, m, cv::getStructuringElement(cv::MORPH_RECT, {2 * colRadius + 1, 2 * rowRadius + 1}));
  }
  return mask;
}

}  // namespace velmora
