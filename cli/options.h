// Checks of the deblur tool's option values, each turning the text the user
// typed into a value or throwing a CliError that names the problem.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "frontend/job.h"

namespace velmora::cli {

inline constexpr int kSmallestBlurSide = 3;
inline constexpr int kLargestBlurSide = 121;
inline constexpr float kLargestSmoothness = 0.20f;

struct BlurSize {
  int height = 19;
  int width = 19;
  // The job finds the size, height x width being the largest it may find.
  bool find = false;
  // The bound is further cut to what the picture (or the region) leaves
  // room for: plain "auto", whose bound no user could pick for every
  // picture of a batch.
  bool fitPicture = false;
};

// The default: a size found within what each picture allows.
inline constexpr BlurSize kAutoBlurSize{kLargestBlurSide, kLargestBlurSide, true, true};

// "auto" (the default), "auto:N" or "auto:HxW" (the largest size the search
// may find), "small" (19), "medium" (31), "large" (51), an odd N from 3 to
// 121, or HxW with both sides odd and in that range.
BlurSize ParseBlurSize(std::string_view text);

// The size a rows x cols picture (or region) is checked and run with: the
// one given, or for "auto" the bound cut to LargestBlurSide of each side (0
// where not even 3 fits).
BlurSize BlurSizeFor(const BlurSize& asked, int rows, int cols);

// BlurSizeFor the region of a rows x cols picture: its sides as the region
// rule counts them (CheckRegionSize), so that the rule takes the bound of
// any region it takes at all.
BlurSize BlurSizeForRegion(const BlurSize& asked, const DeblurRegion& region, int rows, int cols);

// Throws unless a whole rows x cols picture holds the blur size: the
// engine's "too large" text, or, when a search has no size left to look
// within, a line saying the picture is too small for any.
void CheckBlurFitsPicture(const BlurSize& blur, int rows, int cols);

// "37 x 29": height by width, as the tool and the application print a size.
std::string BlurSizeText(int height, int width);

// A number from 0.00 to 0.20.
float ParseSmoothness(std::string_view text);

// 1.0 or 2.2, however the number is written.
float ParseGamma(std::string_view text);

// "classic" or "sharp", in any letter case.
KernelEstimator ParseEstimator(std::string_view text);

// "keep" or "model", in any letter case.
Highlights ParseHighlights(std::string_view text);

// "X,Y,W,H": fractions of the picture's width and height, origin top-left,
// the region inside the picture (X + W <= 1, Y + H <= 1) and not empty.
DeblurRegion ParseRegion(std::string_view text);

// Throws kRegionTooSmall (verbatim) unless the job would accept the region
// on a rows x cols picture with this blur size.
void CheckRegionSize(const DeblurRegion& region, int rows, int cols, const BlurSize& blur);

// <INPUT stem>_deblurred.png beside INPUT.
std::filesystem::path DefaultOutputPath(const std::filesystem::path& input);

// The result's format follows its extension: jpg, jpeg, png, bmp, tif or
// tiff, in any letter case.
bool IsResultFormat(const std::filesystem::path& output);
void CheckResultPath(const std::filesystem::path& output);

// The kernel picture may also be a TIFF file.
void CheckKernelPicturePath(const std::filesystem::path& kernelOut);

}  // namespace velmora::cli
