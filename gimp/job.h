// The plug-in's settings, the engine request they make for a layer (and
// its selection), and the job running on a worker thread while GIMP's
// progress bar, or the dialog's, follows it.
#pragma once

#include <glib.h>

#include <opencv2/core.hpp>

#include <atomic>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "velmora/deblur.h"

namespace velmora::gimp {

// What the dialog shows and the procedure's parameters carry. Kept between
// runs by GIMP (gimp_set_data), so plain values only.
struct Settings {
  gint32 blurSize = 0;  // 0: auto; else an odd size from 3 to 121 (the largest blur expected)
  gint32 estimator = 0;  // 0: classic, 1: sharp
  gdouble smoothness = 0.04;
  gint32 reduceRinging = 0;
  gint32 reduceNoise = 0;
  gint32 protectHighlights = 1;  // clipped lamps taken as lower bounds, as velmora-deblur does
};

bool operator==(const Settings& a, const Settings& b);

// Why settings given by a script cannot be used; empty when they can.
std::string SettingsProblem(const Settings& settings);

// The request for a rows x cols layer: the whole layer, or with a
// selection (region, fractions of the layer) estimated there and the whole
// layer restored with its kernel. Empty, with *problem set, when the blur
// cannot fit the layer or the selection.
std::optional<DeblurRequest> RequestFor(const Settings& settings, int rows, int cols,
                                        const std::optional<DeblurRegion>& region, std::string* problem);

// One engine job on its own thread. The engine runs one job at a time, and
// a plug-in process runs one job at a time too.
class RunningJob {
 public:
  RunningJob(const DeblurRequest& request, cv::Mat picture);
  ~RunningJob();  // stops the job if it still runs
  RunningJob(const RunningJob&) = delete;
  RunningJob& operator=(const RunningJob&) = delete;

  // Waits up to milliseconds; true once the job has ended.
  bool WaitFor(int milliseconds);
  // 0 to 100; -1 before the engine starts.
  float Progress() const { return control_.Progress(); }
  void Cancel() { control_.cancel = true; }
  // The outcome, once WaitFor said the job has ended.
  DeblurOutcome Take();

 private:
  DeblurRequest request_;
  cv::Mat picture_;
  DeblurControl control_;
  std::future<DeblurOutcome> done_;
  std::thread worker_;
};

// "Blur size 21 x 19, 1.2 s", as the result caption says it.
std::string OutcomeCaption(const DeblurOutcome& outcome);

}  // namespace velmora::gimp
