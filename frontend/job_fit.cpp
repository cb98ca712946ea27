#include "frontend/job_fit.h"

#include <algorithm>
#include <cmath>

#include "engine/run_request.h"
#include "frontend/job_rules.h"

namespace velmora {

void RegionSides(const DeblurRegion& region, int rows, int cols, int* regionRows, int* regionCols) {
  const PixelRegion pixels = RegionInPixels(region, rows, cols);
  *regionRows = std::min(pixels.rows, static_cast<int>(std::trunc(rows * std::clamp(region.height, 0.0, 1.0))));
  *regionCols = std::min(pixels.cols, static_cast<int>(std::trunc(cols * std::clamp(region.width, 0.0, 1.0))));
}

bool RegionFitsBlur(const DeblurRegion& region, int rows, int cols, int height, int width) {
  const PixelRegion pixels = RegionInPixels(region, rows, cols);
  return RegionAccepted(region, rows, cols, height, width) && pixels.rows >= MinimumRegionSide(height) &&
         pixels.cols >= MinimumRegionSide(width);
}

std::string FitBlurChoice(BlurChoice* choice, int rows, int cols, const DeblurRegion* region) {
  int sideRows = rows, sideCols = cols;
  if (region) RegionSides(*region, rows, cols, &sideRows, &sideCols);
  if (choice->find) {
    choice->height = MaxBlurSide(sideRows);
    choice->width = MaxBlurSide(sideCols);
  }
  if (region) {
    const bool fits = choice->height >= 3 && choice->width >= 3 &&
                      RegionFitsBlur(*region, rows, cols, choice->height, choice->width);
    return fits ? std::string() : std::string(kRegionTooSmall);
  }
  if (choice->height < 3 || choice->width < 3)
    return "this " + std::to_string(cols) + " x " + std::to_string(rows) +
           " picture is too small to look for a blur in: each side must be at least 9 pixels";
  if (!BlurFitsPicture(rows, cols, choice->height, choice->width))
    return BlurTooLargeMessage(rows, cols, choice->height, choice->width);
  return {};
}

bool RegionInsidePicture(const DeblurRegion& r) {
  const bool finite = std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) && std::isfinite(r.height);
  return finite && r.x >= 0.0 && r.y >= 0.0 && r.width > 0.0 && r.height > 0.0 && r.x + r.width <= 1.0 &&
         r.y + r.height <= 1.0;
}

std::string OutcomeProblem(const DeblurRequest& request, const DeblurOutcome& outcome) {
  switch (outcome.result) {
    case DeblurResult::kSucceeded:
      return {};
    case DeblurResult::kEstimationFailed:
      return kInsufficientInformation;
    case DeblurResult::kOutOfMemory:
      // Refused before it started, with the figures; or it ran out.
      return outcome.memoryShortfall.empty() ? "not enough memory to deblur this picture"
                                             : "not enough memory: this picture " + outcome.memoryShortfall;
    case DeblurResult::kInvalidInput:
      if (request.mode == DeblurMode::kRegion || request.mode == DeblurMode::kRegionThenWhole)
        return kRegionTooSmall;
      return "the engine refused the picture, the kernel or the settings";
    case DeblurResult::kGpuFailed:
      return "the GPU failed during the job (" +
             (outcome.notices.empty() ? std::string("no reason given") : outcome.notices.back()) +
             "); run again on the CPU";
    case DeblurResult::kCancelled:
      return "cancelled";
    case DeblurResult::kInternalError:
      break;
  }
  return "the job failed inside the image library";
}

}  // namespace velmora
