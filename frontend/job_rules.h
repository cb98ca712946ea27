// What the desktop application and the command-line tool offer and refuse
// before a job reaches the engine: the blur-size presets, the region rule,
// the rule that a blur fits the picture, and the texts that tell the user.
// The texts are marked for translation where they are defined; the
// application translates them in the context "Job".
#pragma once

#include <initializer_list>
#include <string>

#include "io/translatable.h"
#include "velmora/deblur.h"

namespace velmora {

inline constexpr const char* kInsufficientInformation = QT_TRANSLATE_NOOP(
    "Job", "Insufficient information.\nPlease try larger patch or adjust the kernel size.");
inline constexpr const char* kRegionTooSmall = QT_TRANSLATE_NOOP("Job", "Please choose a larger region.");
// %1 x %2: the blur size (height x width); %3 x %4: the picture (width x
// height); %5 x %6: the largest blur size it allows.
inline constexpr const char* kBlurTooLarge = QT_TRANSLATE_NOOP(
    "Job",
    "The blur size %1 x %2 is too large for this %3 x %4 picture: each side must be at least three "
    "blur sizes. The largest blur size it allows is %5 x %6.");

// The blur-size presets: Small, Medium and Large.
inline constexpr int kBlurPresets[3] = {19, 31, 51};

// The region rule applied to a whole rows x cols picture: each side at
// least three blur sizes. A larger blur gives no usable estimate.
bool BlurFitsPicture(int rows, int cols, int kernelHeight, int kernelWidth);

// The largest odd blur side a picture side leaves room for (a third of it,
// at most 121); 0 when not even 3 fits.
inline int LargestBlurSide(int pictureSide) { return MaxBlurSide(pictureSide); }

// kBlurTooLarge filled in for a rows x cols picture and a blur size.
std::string BlurTooLargeMessage(int rows, int cols, int kernelHeight, int kernelWidth);

// text with %1, %2, ... replaced by values[0], values[1], ... (up to 9).
std::string FillPlaceholders(const std::string& text, std::initializer_list<int> values);

}  // namespace velmora
