#include "cli/console.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velmora::cli {

std::string ProgressFrame(const std::string& label, float percent, int barWidth) {
  const bool started = percent >= 0.0f && std::isfinite(percent);
  const double share = started ? std::clamp(percent, 0.0f, 100.0f) / 100.0 : 0.0;
  const int filled = static_cast<int>(std::floor(share * barWidth));
  std::string frame = label + " [" + std::string(filled, '#') + std::string(barWidth - filled, '-') + "]";
  char number[16];
  std::snprintf(number, sizeof number, started ? " %3d%%" : "     ",
                static_cast<int>(std::floor(share * 100.0)));
  return frame + number;
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

ProgressBar::ProgressBar(std::string label, bool enabled)
    : label_(std::move(label)), enabled_(enabled) {}

ProgressBar::~ProgressBar() {
  if (drawn_) std::fputc('\n', stderr);
}

void ProgressBar::Show(float percent) {
  if (!enabled_) return;
  std::fprintf(stderr, "\r%s", ProgressFrame(label_, percent, 40).c_str());
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace velmora::cli
