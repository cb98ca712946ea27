// The command line of velmora-deblur, parsed and checked without running:
// the bytes are the arguments, split at NUL bytes. What it accepts must be
// within the documented ranges.
#include <cmath>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/options.h"

namespace {

bool Fraction(double v) { return std::isfinite(v) && v >= 0.0 && v <= 1.0; }

void CheckAccepted(const velmora::cli::CommandLine& line) {
  const velmora::cli::DeblurCommand& r = line.request;
  const auto side = [](int s) { return s % 2 == 1 && s >= velmora::cli::kSmallestBlurSide && s <= velmora::cli::kLargestBlurSide; };
  bool sound = !line.inputs.empty() && side(r.blurSize.height) && side(r.blurSize.width);
  sound = sound && std::isfinite(r.smoothness) && r.smoothness >= 0.0f && r.smoothness <= velmora::cli::kLargestSmoothness;
  sound = sound && (r.gamma == 1.0f || r.gamma == 2.2f);
  sound = sound && (line.inputs.size() == 1 || !line.outputDir.empty());
  if (r.region) {
    const velmora::DeblurRegion& g = *r.region;
    sound = sound && Fraction(g.x) && Fraction(g.y) && Fraction(g.width) && Fraction(g.height) && g.width > 0 &&
            g.height > 0 && g.x + g.width <= 1.0 + 1e-9 && g.y + g.height <= 1.0 + 1e-9;
  }
  if (!sound) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words(1, "velmora-deblur");
  words.emplace_back();
  for (size_t i = 0; i < size && words.size() <= 64; ++i) {
    if (data[i] == 0)
      words.emplace_back();
    else
      words.back().push_back(static_cast<char>(data[i]));
  }
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  velmora::cli::CommandLine line;
  if (velmora::cli::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &line) < 0) CheckAccepted(line);
  return 0;
}
