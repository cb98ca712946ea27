// What the deblur tool shows while it works: the progress bar on standard
// error, and keeping the engine's diagnostic lines off standard output.
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

// The engine prints its fixed diagnostic lines to standard output. While
// one of these lives, standard output (the descriptor, so printf from any
// thread is caught) goes to /dev/null; the destructor puts it back.
class StandardOutputSilencer {
 public:
  explicit StandardOutputSilencer(bool enabled);
  ~StandardOutputSilencer();
  StandardOutputSilencer(const StandardOutputSilencer&) = delete;
  StandardOutputSilencer& operator=(const StandardOutputSilencer&) = delete;

 private:
  int saved_ = -1;
};

}  // namespace velmora::cli
