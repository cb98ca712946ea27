#include "gimp/job.h"

#include <chrono>
#include <cstdio>

#include "frontend/job_fit.h"

namespace velmora::gimp {

bool operator==(const Settings& a, const Settings& b) {
  return a.blurSize == b.blurSize && a.estimator == b.estimator && a.smoothness == b.smoothness &&
         a.reduceRinging == b.reduceRinging && a.reduceNoise == b.reduceNoise &&
         a.protectHighlights == b.protectHighlights;
}

std::string SettingsProblem(const Settings& s) {
  if (s.blurSize != 0 && (s.blurSize < 3 || s.blurSize > 121 || s.blurSize % 2 == 0))
    return "bad blur size " + std::to_string(s.blurSize) +
           ": expected 0 (auto) or an odd number from 3 to 121 (19 small, 31 medium, 51 large)";
  if (s.estimator != 0 && s.estimator != 1)
    return "bad estimator " + std::to_string(s.estimator) + ": expected 0 (classic) or 1 (sharp)";
  // Compared in single precision, as the command-line tool does.
  const float smoothness = static_cast<float>(s.smoothness);
  if (!(smoothness >= 0.0f && smoothness <= 0.20f))
    return "bad smoothness " + std::to_string(s.smoothness) + ": expected a number from 0.00 to 0.20";
  return {};
}

std::optional<DeblurRequest> RequestFor(const Settings& s, int rows, int cols,
                                        const std::optional<DeblurRegion>& region, std::string* problem) {
  BlurChoice blur{s.blurSize, s.blurSize, s.blurSize == 0};
  *problem = FitBlurChoice(&blur, rows, cols, region ? &*region : nullptr);
  if (!problem->empty()) return std::nullopt;
  // As velmora-deblur builds its request (cli/deblur_command.cpp), with
  // --whole when there is a selection.
  DeblurRequest q;
  q.mode = region ? DeblurMode::kRegionThenWhole : DeblurMode::kWhole;
  q.estimator = s.estimator == 1 ? KernelEstimator::kSharp : KernelEstimator::kClassic;
  q.processor = Processor::kCpu;
  q.blurHeight = blur.height;
  q.blurWidth = blur.width;
  q.findBlurSize = blur.find;
  q.gamma = 1.0f;
  q.smoothness = static_cast<float>(s.smoothness);
  q.reduceRinging = s.reduceRinging != 0;
  q.reduceNoise = s.reduceNoise != 0;
  q.highlights = s.protectHighlights ? Highlights::kModel : Highlights::kKeep;
  if (region) q.region = *region;
  return q;
}

RunningJob::RunningJob(const DeblurRequest& request, cv::Mat picture)
    : request_(request), picture_(std::move(picture)) {
  std::packaged_task<DeblurOutcome()> task([this] { return Deblur(request_, picture_, &control_); });
  done_ = task.get_future();
  worker_ = std::thread(std::move(task));
}

RunningJob::~RunningJob() {
  if (!worker_.joinable()) return;
  control_.cancel = true;
  worker_.join();
}

bool RunningJob::WaitFor(int milliseconds) {
  return done_.wait_for(std::chrono::milliseconds(milliseconds)) == std::future_status::ready;
}

DeblurOutcome RunningJob::Take() {
  worker_.join();
  return done_.get();
}

std::string OutcomeCaption(const DeblurOutcome& outcome) {
  char text[96];
  std::snprintf(text, sizeof text, "Blur size %d x %d, %.1f s", outcome.kernel.rows, outcome.kernel.cols,
                outcome.seconds);
  return text;
}

}  // namespace velmora::gimp
