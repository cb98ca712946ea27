// What the deblur tool shows while it works: the progress bar on standard
// error.
#pragma once

#include <string>

namespace velmora::cli {

// One frame of the progress bar, e.g. "Deblurring [#####-----]  50%"; a
// negative percentage (not started) shows an empty bar and no number.
std::string ProgressFrame(const std::string& label, float percent, int barWidth);

bool StandardErrorIsTerminal();

// Draws frames over one another on standard error, and ends the line when
// destroyed. Does nothing when disabled.
class ProgressBar {
 public:
  ProgressBar(std::string label, bool enabled);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Show(float percent);

 private:
  std::string label_;
  bool enabled_;
  bool drawn_ = false;
};

}  // namespace velmora::cli
