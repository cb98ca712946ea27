// How the front ends that take their settings from a program (the Python
// module, the GIMP plug-in) fit a blur size to the picture or region of a
// job, with the same rules and texts as the command-line tool: "auto"
// searches within the largest size the picture (or region) leaves room
// for, a given size must fit it, and a region must be large enough.
#pragma once

#include <string>

#include "velmora/deblur.h"

namespace velmora {

// The blur size asked for: a size, or "find it" (auto).
struct BlurChoice {
  int height = 19;
  int width = 19;
  bool find = false;
};

// The sides of a region as the engine counts them on a rows x cols
// picture: trunc(rows x height) and the pixels it is handed, whichever is
// fewer (the two can differ by one).
void RegionSides(const DeblurRegion& region, int rows, int cols, int* regionRows, int* regionCols);

// Whether the engine estimates a height x width blur on region of a rows x
// cols picture: the application's rule on the fractions, and the same on
// the pixels it is handed.
bool RegionFitsBlur(const DeblurRegion& region, int rows, int cols, int height, int width);

// Fits choice to a rows x cols picture, or to its region when region is
// not null: an auto bound becomes the largest size that fits (MaxBlurSide
// of each side). Returns the text that tells the user why the job cannot
// run ("Please choose a larger region.", the blur-too-large text, or that
// the picture is too small for any blur), or an empty string when it can.
std::string FitBlurChoice(BlurChoice* choice, int rows, int cols, const DeblurRegion* region);

// Whether region is a region of a picture: finite fractions, X, Y >= 0,
// W, H > 0, X + W <= 1, Y + H <= 1.
bool RegionInsidePicture(const DeblurRegion& region);

// What a front end tells the user about a job that did not succeed, in the
// command-line tool's words: "Insufficient information. ...", "Please
// choose a larger region.", the memory figures, the GPU's failure, ...
std::string OutcomeProblem(const DeblurRequest& request, const DeblurOutcome& outcome);

}  // namespace velmora
