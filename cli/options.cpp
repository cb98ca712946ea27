#include "cli/options.h"

#include "frontend/job_fit.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>
#include <system_error>

#include "cli/errors.h"

namespace velmora::cli {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

std::optional<double> ParseNumber(std::string_view text) {
  double value = 0.0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<int> ParseInteger(std::string_view text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

bool UsableBlurSide(std::optional<int> side) {
  return side && *side % 2 == 1 && *side >= kSmallestBlurSide && *side <= kLargestBlurSide;
}

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

void CheckWritableTarget(const fs::path& target, const std::string& what) {
  const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  std::error_code error;
  if (!fs::is_directory(folder, error))
    throw BadInput("the folder of the " + what + " " + Quoted(folder.string()) + " does not exist");
  if (fs::is_directory(target, error))
    throw BadInput("the " + what + " " + Quoted(target.string()) + " is a folder, not a file");
}

bool HasExtension(const fs::path& path, std::initializer_list<const char*> allowed) {
  const std::string extension = Lower(path.extension().string());
  return std::any_of(allowed.begin(), allowed.end(),
                     [&](const char* e) { return extension == e; });
}

}  // namespace

BlurSize ParseBlurSize(std::string_view text) {
  const std::string lower = Lower(text);
  if (lower == "auto") return kAutoBlurSize;
  const char* const names[3] = {"small", "medium", "large"};
  for (int i = 0; i < 3; ++i)
    if (lower == names[i]) return {kBlurPresets[i], kBlurPresets[i]};
  constexpr std::string_view kAutoPrefix = "auto:";
  const bool bounded = lower.starts_with(kAutoPrefix);
  const std::string_view size = std::string_view(lower).substr(bounded ? kAutoPrefix.size() : 0);
  const size_t cross = size.find('x');
  const std::optional<int> height = ParseInteger(size.substr(0, cross));
  const std::optional<int> width =
      cross == std::string_view::npos ? height : ParseInteger(size.substr(cross + 1));
  if (!UsableBlurSide(height) || !UsableBlurSide(width))
    throw BadInput("bad blur size " + Quoted(text) +
                   ": expected auto, auto:N or auto:HxW (the largest size to look for), small, medium, "
                   "large, an odd number N from 3 to 121, or HxW with both sides odd numbers from 3 to 121");
  return {*height, *width, bounded, false};
}

BlurSize BlurSizeFor(const BlurSize& asked, int rows, int cols) {
  if (!asked.fitPicture) return asked;
  BlurSize fitted = asked;
  fitted.height = std::min(asked.height, LargestBlurSide(rows));
  fitted.width = std::min(asked.width, LargestBlurSide(cols));
  return fitted;
}

BlurSize BlurSizeForRegion(const BlurSize& asked, const DeblurRegion& region, int rows, int cols) {
  int regionRows = 0, regionCols = 0;
  RegionSides(region, rows, cols, &regionRows, &regionCols);
  return BlurSizeFor(asked, regionRows, regionCols);
}

void CheckBlurFitsPicture(const BlurSize& blur, int rows, int cols) {
  if (blur.height < kSmallestBlurSide || blur.width < kSmallestBlurSide)
    throw BadInput("this " + std::to_string(cols) + " x " + std::to_string(rows) +
                   " picture is too small to look for a blur in: each side must be at least " +
                   std::to_string(3 * kSmallestBlurSide) + " pixels");
  if (!BlurFitsPicture(rows, cols, blur.height, blur.width))
    throw BadInput(BlurTooLargeMessage(rows, cols, blur.height, blur.width));
}

std::string BlurSizeText(int height, int width) {
  return std::to_string(height) + " x " + std::to_string(width);
}

float ParseSmoothness(std::string_view text) {
  const std::optional<double> value = ParseNumber(text);
  // Compared in single precision: "0.20" is the largest value allowed.
  if (!value || *value < 0.0 || static_cast<float>(*value) > kLargestSmoothness)
    throw BadInput("bad smoothness " + Quoted(text) + ": expected a number from 0.00 to 0.20");
  return static_cast<float>(*value);
}

float ParseGamma(std::string_view text) {
  const std::optional<double> value = ParseNumber(text);
  if (value && *value == 1.0) return 1.0f;
  if (value && *value == 2.2) return 2.2f;
  throw BadInput("bad gamma " + Quoted(text) + ": expected 1.0 or 2.2");
}

Highlights ParseHighlights(std::string_view text) {
  const std::string word = Lower(text);
  if (word == "keep") return Highlights::kKeep;
  if (word == "model") return Highlights::kModel;
  throw BadInput("bad highlights " + Quoted(text) + ": expected keep or model");
}

KernelEstimator ParseEstimator(std::string_view text) {
  KernelEstimator estimator = KernelEstimator::kClassic;
  if (!ParseEstimatorName(Lower(text), &estimator))
    throw BadInput("bad estimator " + Quoted(text) + ": expected classic or sharp");
  return estimator;
}

DeblurRegion ParseRegion(std::string_view text) {
  std::array<double, 4> values{};
  size_t start = 0;
  bool parsed = true;
  for (size_t k = 0; k < values.size() && parsed; ++k) {
    const size_t comma = k + 1 < values.size() ? text.find(',', start) : text.size();
    const std::optional<double> value =
        comma == std::string_view::npos ? std::nullopt : ParseNumber(text.substr(start, comma - start));
    parsed = value.has_value();
    if (parsed) values[k] = *value;
    start = comma + 1;
  }
  const DeblurRegion r{values[0], values[1], values[2], values[3]};
  if (!parsed || r.x < 0.0 || r.y < 0.0 || r.width <= 0.0 || r.height <= 0.0 ||
      r.x + r.width > 1.0 || r.y + r.height > 1.0)
    throw BadInput("bad region " + Quoted(text) +
                   ": expected X,Y,W,H, fractions of the picture's width and height with X, Y >= 0, "
                   "W, H > 0, X + W <= 1 and Y + H <= 1");
  return r;
}

void CheckRegionSize(const DeblurRegion& region, int rows, int cols, const BlurSize& blur) {
  if (!RegionFitsBlur(region, rows, cols, blur.height, blur.width))
    throw CliError(kExitBadInput, kRegionTooSmall, true);
}

fs::path DefaultOutputPath(const fs::path& input) {
  return input.parent_path() / (input.stem().string() + "_deblurred.png");
}

bool IsResultFormat(const fs::path& output) {
  return HasExtension(output, {".jpg", ".jpeg", ".png", ".bmp", ".tif", ".tiff"});
}

void CheckResultPath(const fs::path& output) {
  if (!IsResultFormat(output))
    throw BadInput("cannot write " + Quoted(output.string()) +
                   ": the result must be a .jpg, .jpeg, .png, .bmp, .tif or .tiff file");
  CheckWritableTarget(output, "result");
}

void CheckKernelPicturePath(const fs::path& kernelOut) {
  if (!HasExtension(kernelOut, {".png", ".bmp", ".tif", ".tiff", ".jpg", ".jpeg"}))
    throw BadInput("cannot write " + Quoted(kernelOut.string()) +
                   ": the kernel picture must be a .png, .bmp, .tif, .tiff, .jpg or .jpeg file");
  CheckWritableTarget(kernelOut, "kernel picture");
}

}  // namespace velmora::cli
