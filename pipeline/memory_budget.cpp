#include "pipeline/memory_budget.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "pipeline/deconvolve.h"
#include "estimation/level_spectra.h"
#include "estimation/masked_kernel_solve.h"
#include "estimation/sharp_params.h"
#include "pipeline/spectral.h"

namespace velmora {

namespace {

// The sharp estimator's defaults the model follows (sharp_params.h and
// masked_kernel_solve.h): its window and the largest kernel whose normal
// matrix it builds.
constexpr double kSharpDenseTaps = kDenseGramLimit;

// Plans, thread stacks and the image library's own buffers.
constexpr double kFixedBytes = 64.0 * (1 << 20);
// What the arrays below leave out (the transforms' own buffers, the image
// library's temporaries, the allocator's rounding): measured peaks of
// blind and non-blind jobs from 1 to 24 megapixels stayed within it.
constexpr double kMargin = 1.1;

// The estimation's peak, in floats: the grey pyramid, the level spectra and
// the level's scratch at the finest level, or the spectra being built.
double EstimationFloats(double n, double padded) {
  const double iterating = 0.62 * n + (2.0 * n + 2.0 * padded) + 2.0 * n + 4.0 * std::max(n, padded) + 2.0 * n;
  const double building = 1.62 * n + 9.0 * n + 2.0 * padded;
  return std::max(iterating, building);
}

// The deconvolution's peak, in floats: the canvas of every plane, the
// padding's coarser levels and scratch, then one plane's solve.
double DeconvolutionFloats(double n, double canvas, int channels, int reduceRinging,
                           int reduceNoise) {
  const double planes = channels * canvas;
  const double padding = planes + channels * (n + canvas) / 3.0 + 2.5 * canvas;
  double solve = planes + canvas + 2.0 * canvas + 3.0 * canvas;
  if (reduceRinging > 0) solve += 3.0 * canvas;
  if (reduceNoise > 0) solve += 3.3 * canvas;
  return std::max(padding, solve);
}

// The sharp estimation's peak, in floats: while the window is chosen, the
// grey picture and its gradient magnitude (and a byte mask); then the grey
// picture, which every level cuts its window from, and on the window the
// level's canvas and transforms, the kernel step's planes and its normal
// matrix.
double SharpEstimationFloats(double n, double window, int kernelRows, int kernelCols) {
  const double taps = static_cast<double>(kernelRows) * kernelCols;
  const double margins = (std::sqrt(window) + kernelRows + 2.0) * (std::sqrt(window) + kernelCols + 2.0);
  const double choosing = 2.25 * n;
  const double estimating = n + 2.0 * window + 8.0 * margins + 10.0 * margins +
                            (taps <= kSharpDenseTaps ? taps * taps : 6.0 * margins);
  return std::max(choosing, estimating);
}

std::optional<size_t> ReadNumber(const std::string& path) {
  std::ifstream in(path);
  unsigned long long v = 0;
  if (in >> v) return static_cast<size_t>(v);
  return std::nullopt;
}

// A "Key:   123 kB" line of a /proc file, in bytes.
std::optional<size_t> ProcKilobytes(const char* file, const char* key) {
  std::ifstream in(file);
  const std::string prefix = std::string(key) + ":";
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) return static_cast<size_t>(std::stoull(line.substr(prefix.size()))) * 1024;
  return std::nullopt;
}

void Lower(std::optional<size_t>& best, std::optional<size_t> candidate) {
  if (candidate && (!best || *candidate < *best)) best = candidate;
}

// What is left of a resource limit given what is in use.
std::optional<size_t> LeftOfLimit(int resource, std::optional<size_t> used) {
  rlimit limit{};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || !used) return std::nullopt;
  const size_t cap = static_cast<size_t>(limit.rlim_cur);
  return cap > *used ? cap - *used : 0;
}

}  // namespace

size_t EngineMemoryBytes(int rows, int cols, int channels, int kernelRows, int kernelCols,
                         bool blind, int reduceRinging, int reduceNoise) {
  const double n = static_cast<double>(rows) * cols;
  const double canvas =
      static_cast<double>(CanvasSide(rows, kernelRows)) * CanvasSide(cols, kernelCols);
  double floats = DeconvolutionFloats(n, canvas, channels, reduceRinging, reduceNoise);
  if (blind) {
    const double padded = static_cast<double>(PaddedLength(rows + kernelRows - 1)) *
                          PaddedLength(cols + kernelCols - 1);
    floats = std::max(floats, EstimationFloats(n, padded));
  }
  return static_cast<size_t>(kMargin * floats * sizeof(float) + kFixedBytes);
}

size_t SharpEngineMemoryBytes(int rows, int cols, int channels, int kernelRows, int kernelCols,
                              int reduceRinging, int reduceNoise) {
  const double n = static_cast<double>(rows) * cols;
  const double canvas =
      static_cast<double>(CanvasSide(rows, kernelRows)) * CanvasSide(cols, kernelCols);
  const double floats =
      std::max(DeconvolutionFloats(n, canvas, channels, reduceRinging, reduceNoise),
               SharpEstimationFloats(
                   n, std::min(n, SharpLevelPixels(SharpEstimatorParams(), 1.0, std::max(kernelRows, kernelCols))),
                   kernelRows, kernelCols));
  return static_cast<size_t>(kMargin * floats * sizeof(float) + kFixedBytes);
}

size_t HighlightsMemoryBytes(int rows, int cols, int channels, int kernelRows, int kernelCols) {
  const double n = static_cast<double>(rows) * cols;
  const double canvas =
      static_cast<double>(CanvasSide(rows, kernelRows)) * CanvasSide(cols, kernelCols);
  const double indices = n * sizeof(size_t) / sizeof(float);  // every sample of a plane, at most
  const double floats = 2.0 * n * channels + 2.0 * canvas + indices;
  return static_cast<size_t>(kMargin * floats * sizeof(float));
}

std::optional<size_t> AvailableMemoryBytes() {
  std::optional<size_t> best = ProcKilobytes("/proc/meminfo", "MemAvailable");
  Lower(best, LeftOfLimit(RLIMIT_AS, ProcKilobytes("/proc/self/status", "VmSize")));
  Lower(best, LeftOfLimit(RLIMIT_DATA, ProcKilobytes("/proc/self/status", "VmData")));
  const std::optional<size_t> groupLimit = ReadNumber("/sys/fs/cgroup/memory.max");
  const std::optional<size_t> groupUse = ReadNumber("/sys/fs/cgroup/memory.current");
  if (groupLimit && groupUse) Lower(best, *groupLimit > *groupUse ? *groupLimit - *groupUse : 0);
  return best;
}

std::string MemoryShortfall(size_t needed, size_t available) {
  constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;
  char text[96];
  std::snprintf(text, sizeof(text), "needs about %.1f GiB of memory; %.1f GiB are free", needed / kGiB,
                available / kGiB);
  return text;
}

}  // namespace velmora
