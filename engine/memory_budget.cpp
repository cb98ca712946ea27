#include "engine/memory_budget.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "estimation/estimators.h"
#include "pipeline/numerics.h"

namespace velmora {

namespace {

// Plans, thread stacks and the image library's own buffers.
constexpr double kFixedBytes = 64.0 * (1 << 20);
// What the arrays below leave out (the transforms' own buffers, the image
// library's temporaries, the allocator's rounding): measured peaks of
// blind and non-blind jobs from 1 to 24 megapixels stayed within it.
constexpr double kMargin = 1.1;

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
  double floats =
      DeconvolutionPeakFloats(rows, cols, channels, kernelRows, kernelCols, reduceRinging, reduceNoise);
  if (blind) floats = std::max(floats, ClassicEstimationPeakFloats(rows, cols, kernelRows, kernelCols));
  return static_cast<size_t>(kMargin * floats * sizeof(float) + kFixedBytes);
}

size_t SharpEngineMemoryBytes(int rows, int cols, int channels, int kernelRows, int kernelCols,
                              int reduceRinging, int reduceNoise) {
  const double floats = std::max(
      DeconvolutionPeakFloats(rows, cols, channels, kernelRows, kernelCols, reduceRinging, reduceNoise),
      SharpEstimationPeakFloats(rows, cols, kernelRows, kernelCols));
  return static_cast<size_t>(kMargin * floats * sizeof(float) + kFixedBytes);
}

size_t HighlightsMemoryBytes(int rows, int cols, int channels, int kernelRows, int kernelCols) {
  return static_cast<size_t>(kMargin * ClippedModelPeakFloats(rows, cols, channels, kernelRows, kernelCols) *
                             sizeof(float));
}

size_t JobMemoryBytes(int wholeRows, int wholeCols, int rows, int cols, int channels,
                      int kernelRows, int kernelCols, bool blind, bool sharp, bool highlights,
                      bool useCpu, int reduceRinging, int reduceNoise) {
  const size_t whole = static_cast<size_t>(wholeRows) * wholeCols * channels;
  const size_t region = static_cast<size_t>(rows) * cols * channels;
  const size_t own = (2 * whole + 2 * region) * sizeof(float) + whole;
  const size_t engine =
      blind && sharp
          ? SharpEngineMemoryBytes(rows, cols, channels, kernelRows, kernelCols, reduceRinging, reduceNoise)
          : EngineMemoryBytes(rows, cols, channels, kernelRows, kernelCols, blind, reduceRinging,
                              reduceNoise);
  const size_t clipped = highlights ? HighlightsMemoryBytes(rows, cols, channels, kernelRows, kernelCols) : 0;
  // The GPU path's host arrays beyond the CPU path's, per canvas pixel: the
  // padding's four whole spectra, and the colour canvas, its four-channel
  // copy, the result and the ringing solve's, plus staging.
  const size_t canvas =
      static_cast<size_t>(CanvasSide(rows, kernelRows)) * CanvasSide(cols, kernelCols);
  const size_t gpu = useCpu ? 0 : canvas * (4 * 8 + 12 + 16 + 12 + 12 + 8);
  return own + engine + clipped + gpu;
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
