#include "pipeline/highlights.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

#include "pipeline/job_context.h"
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

namespace {

// Whether a picture shows lamps: bright (CV_32F, each pixel's brightest
// sample on the 0-1 scale). See ShowsClippedHighlights.
bool ShowsLamps(const cv::Mat& bright) {
  cv::Mat clipped;
  cv::compare(bright, kClipLevel, clipped, cv::CMP_GE);
  if (cv::countNonZero(clipped) < kLeastClippedPixels) return false;
  cv::Mat labels, stats, centroids;
  const int count = cv::connectedComponentsWithStats(clipped, labels, stats, centroids, 8, CV_32S);
  const double largestLamp =
      std::max<double>(kLargestLampLeast, kLargestLampShare * static_cast<double>(clipped.total()));
  long lamps = 0, large = 0;
  for (int n = 1; n < count; ++n) {  // 0 is the unclipped rest
    const int area = stats.at<int>(n, cv::CC_STAT_AREA);
    (area <= largestLamp ? lamps : large) += area;
  }
  if (lamps < kLeastClippedPixels || lamps <= large) return false;
  // What lies around the clipped patches, beyond a shake's streak: dark
  // around lamps at night, bright around a blown sky or glints on water.
  const int reach = std::max(kLampSurroundLeast, static_cast<int>(kLampSurroundShare * std::max(bright.rows, bright.cols)));
  cv::Mat outer, inner;
  cv::dilate(clipped, outer, cv::getStructuringElement(cv::MORPH_ELLIPSE, {2 * reach + 1, 2 * reach + 1}));
  cv::dilate(clipped, inner, cv::getStructuringElement(cv::MORPH_ELLIPSE, {reach + 1, reach + 1}));
  const cv::Mat ring = outer & ~inner;
  return cv::countNonZero(ring) > 0 && cv::mean(bright, ring)[0] < kLampSurroundMost;
}

}  // namespace

bool ModelsHighlights(Highlights highlights, const float* planes, int rows, int cols, int channels) {
  if (highlights != Highlights::kModel) return false;
  const size_t plane = GridSize(rows, cols);
  cv::Mat bright(rows, cols, CV_32F);
  float* mark = bright.ptr<float>();
  for (size_t i = 0; i < plane; ++i) {
    float top = planes[i];
    for (int c = 1; c < channels; ++c) top = std::max(top, planes[plane * c + i]);
    mark[i] = top;
  }
  return ShowsLamps(bright);
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
  cv::Mat bright;
  top.convertTo(bright, CV_32F, 1.0 / scale);
  return ShowsLamps(bright);
}

EstimationPicture::EstimationPicture(const float* planes, int rows, int cols, int channels,
                                     Highlights highlights)
    : planes_(planes) {
  if (!ModelsHighlights(highlights, planes, rows, cols, channels)) return;
  EngineLog("clipped lamps: estimating in linear light\n");
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

}  // namespace velmora
