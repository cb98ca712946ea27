#include "python/request.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>
#include <vector>

#include "frontend/job_fit.h"
#include "frontend/job_rules.h"

namespace velmora::python {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string Repr(const py::handle& value) { return py::repr(value).cast<std::string>(); }

// An odd side from 3 to 121 given as a Python integer (numpy's too, not
// bool); nullopt for anything else.
std::optional<int> BlurSide(const py::handle& value) {
  if (py::isinstance<py::bool_>(value) || !PyIndex_Check(value.ptr())) return std::nullopt;
  const long long side = py::int_(py::reinterpret_borrow<py::object>(value)).cast<long long>();
  if (side < 3 || side > 121 || side % 2 == 0) return std::nullopt;
  return static_cast<int>(side);
}

BlurChoice ParseBlurSize(const py::object& size) {
  if (py::isinstance<py::str>(size)) {
    const std::string name = Lower(size.cast<std::string>());
    if (name == "auto") return {0, 0, true};
    const char* const presets[3] = {"small", "medium", "large"};
    for (int i = 0; i < 3; ++i)
      if (name == presets[i]) return {kBlurPresets[i], kBlurPresets[i], false};
  } else if (const std::optional<int> side = BlurSide(size)) {
    return {*side, *side, false};
  } else if (py::isinstance<py::tuple>(size) || py::isinstance<py::list>(size)) {
    const py::sequence sides = size;
    if (sides.size() == 2) {
      const std::optional<int> height = BlurSide(sides[0]), width = BlurSide(sides[1]);
      if (height && width) return {*height, *width, false};
    }
  }
  throw py::value_error("bad blur size " + Repr(size) +
                        ": expected \"auto\", \"small\" (19), \"medium\" (31), \"large\" (51), an odd number "
                        "from 3 to 121, or (height, width) of such numbers");
}

std::optional<DeblurRegion> ParseRegion(const py::object& region) {
  if (region.is_none()) return std::nullopt;
  std::vector<double> values;
  try {
    for (const py::handle item : py::iter(region)) values.push_back(py::float_(py::reinterpret_borrow<py::object>(item)));
  } catch (const py::error_already_set&) {
    values.clear();  // not numbers: told below
  }
  DeblurRegion r;
  if (values.size() == 4) r = {values[0], values[1], values[2], values[3]};
  if (values.size() != 4 || !RegionInsidePicture(r))
    throw py::value_error("bad region " + Repr(region) +
                          ": expected (x, y, width, height), fractions of the picture's width and height with "
                          "x, y >= 0, width, height > 0, x + width <= 1 and y + height <= 1");
  return r;
}

KernelEstimator ParseEstimator(const std::string& name) {
  KernelEstimator estimator;
  if (!ParseEstimatorName(Lower(name), &estimator))
    throw py::value_error("bad estimator \"" + name + "\": expected \"classic\" or \"sharp\"");
  return estimator;
}

Processor ParseProcessor(const std::string& name) {
  const std::string word = Lower(name);
  if (word == "cpu") return Processor::kCpu;
  if (word == "gpu") return Processor::kGpu;
  throw py::value_error("bad processor \"" + name + "\": expected \"cpu\" or \"gpu\"");
}

Highlights ParseHighlights(const std::string& name) {
  const std::string word = Lower(name);
  if (word == "keep") return Highlights::kKeep;
  if (word == "model") return Highlights::kModel;
  throw py::value_error("bad highlights \"" + name + "\": expected \"model\" or \"keep\"");
}

float CheckedSmoothness(float smoothness) {
  // Compared in single precision, as the tool does: 0.2 is the largest.
  if (!(smoothness >= 0.0f && smoothness <= 0.20f))
    throw py::value_error("bad smoothness " + std::to_string(smoothness) + ": expected a number from 0.00 to 0.20");
  return smoothness;
}

float CheckedGamma(float gamma) {
  if (gamma != 1.0f && gamma != 2.2f)
    throw py::value_error("bad gamma " + std::to_string(gamma) + ": expected 1.0 or 2.2");
  return gamma;
}

}  // namespace

DeblurRequest BlindRequest(const BlindSettings& s, int rows, int cols) {
  const std::optional<DeblurRegion> region = ParseRegion(s.region);
  if (s.whole && !region) throw py::value_error("whole=True restores the picture with a region's kernel: give a region");
  BlurChoice blur = ParseBlurSize(s.blurSize);
  const std::string refusal = FitBlurChoice(&blur, rows, cols, region ? &*region : nullptr);
  if (!refusal.empty()) throw py::value_error(refusal);
  DeblurRequest q;
  // As the command-line tool builds its request (cli/deblur_command.cpp).
  q.mode = !region ? DeblurMode::kWhole : s.whole ? DeblurMode::kRegionThenWhole : DeblurMode::kRegion;
  q.estimator = ParseEstimator(s.estimator);
  q.processor = ParseProcessor(s.processor);
  q.blurHeight = blur.height;
  q.blurWidth = blur.width;
  q.findBlurSize = blur.find;
  q.gamma = CheckedGamma(s.gamma);
  q.smoothness = CheckedSmoothness(s.smoothness);
  q.reduceRinging = s.reduceRinging;
  q.reduceNoise = s.reduceNoise;
  q.highlights = ParseHighlights(s.highlights);
  if (region) q.region = *region;
  return q;
}

DeblurRequest KnownKernelRequest(const cv::Mat& kernel, float smoothness, bool reduceRinging,
                                 bool reduceNoise, const std::string& highlights,
                                 const std::string& processor) {
  DeblurRequest q;
  q.mode = DeblurMode::kKnownKernel;
  q.processor = ParseProcessor(processor);
  q.smoothness = CheckedSmoothness(smoothness);
  q.reduceRinging = reduceRinging;
  q.reduceNoise = reduceNoise;
  q.highlights = ParseHighlights(highlights);
  q.knownKernel = kernel;
  return q;
}

ChannelOrder ParseChannelOrder(const std::string& name) {
  const std::string word = Lower(name);
  if (word == "rgb") return ChannelOrder::kRgb;
  if (word == "bgr") return ChannelOrder::kBgr;
  throw py::value_error("bad channel_order \"" + name + "\": expected \"rgb\" or \"bgr\"");
}

}  // namespace velmora::python
