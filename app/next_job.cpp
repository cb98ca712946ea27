#include "app/next_job.h"

#include <QCoreApplication>

namespace {

QString Tr(const char* text) { return QCoreApplication::translate("SubMainWindow", text); }

}  // namespace

QString PrepareJob(const DocumentModel& model, JobRequest* request) {
  const cv::Mat& image = model.picture();
  const bool estimating = model.knownKernel().empty();
  const bool findSize = estimating && model.options().findBlurSize;
  const bool regionSelected = model.regionSelected();
  DeblurSettings settings = model.settings();
  if (findSize) {
    // The largest size the search may find is what the job's own picture,
    // the region or the whole, leaves room for.
    const BlurBound bound = AutoBlurBound(image.rows, image.cols, regionSelected ? &model.region() : nullptr);
    if (bound.height == 0 || bound.width == 0)
      return Tr("This %1 x %2 picture is too small for any blur size: each side must be "
                "at least 9 pixels, three times the smallest blur size (3).")
          .arg(image.cols)
          .arg(image.rows);
    settings.kernelHeight = bound.height;
    settings.kernelWidth = bound.width;
  }
  // A whole-picture estimation needs room for three blur sizes a side.
  if (estimating && !regionSelected &&
      !velmora::BlurFitsPicture(image.rows, image.cols, settings.kernelHeight, settings.kernelWidth))
    return QCoreApplication::translate("Job", velmora::kBlurTooLarge)
        .arg(settings.kernelHeight)
        .arg(settings.kernelWidth)
        .arg(image.cols)
        .arg(image.rows)
        .arg(velmora::LargestBlurSide(image.rows))
        .arg(velmora::LargestBlurSide(image.cols));
  *request = JobRequest{};
  request->picture = image.clone();
  request->settings = settings;
  request->options = model.options();
  request->options.findBlurSize = findSize;
  if (!estimating) {
    // A loaded kernel restores the whole picture, as the tool's --kernel.
    request->knownKernel = model.knownKernel();
    request->mode = velmora::kModeRemaining;
  } else {
    if (regionSelected) request->region = model.region();
    request->mode = regionSelected ? velmora::kModePartial : velmora::kModeComplete;
  }
  return QString();
}
