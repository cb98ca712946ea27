// Blind deblurring of a 1-megapixel colour photograph (1224 x 816) blurred by
// a 31 x 31 shake kernel, as the command-line tool runs it by default. The
// three cases split the time: the whole engine call, the non-blind
// deconvolution alone with the estimated kernel, and its padding alone;
// estimation = whole - deconvolution, solves = deconvolution - padding.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_common.h"
#include "pipeline/deconvolve.h"
#include "pipeline/engine.h"
#include "pipeline/pad_image.h"
#include "tools/shake.h"

namespace {

using namespace velmora;

constexpr int kRows = 816, kCols = 1224, kKernel = 31;

struct Fixture {
  std::vector<float> input;
  std::vector<float> output;
  std::vector<float> kernel = std::vector<float>(kKernel * kKernel);
  Fixture() {
    const std::vector<float> sharp = bench::PlanarPhoto(kRows, kCols);
    const cv::Mat k = bench::ShakeKernel(kKernel, 11);
    input.resize(sharp.size());
    for (int c = 0; c < 3; ++c) {
      const cv::Mat plane(kRows, kCols, CV_32F, const_cast<float*>(sharp.data()) + GridSize(kRows, kCols) * c);
      cv::Mat blurred = tools::BlurImage(plane, k, 0.005, 20 + c);
      blurred = cv::max(cv::min(blurred, 1.0), 0.0);
      std::copy(blurred.begin<float>(), blurred.end<float>(), input.begin() + GridSize(kRows, kCols) * c);
    }
    output.resize(input.size());
    // The estimated kernel that the deconvolution-only cases use.
    DeblurImage(input.data(), output.data(), kRows, kCols, 3, kernel.data(), kKernel, kKernel,
                1.0f, 1.0f, 0.04f, 0, 0, true, nullptr);
  }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

void BM_BlindWhole(benchmark::State& state) {
  Fixture& f = Shared();
  std::vector<float> k(f.kernel.size());
  for (auto _ : state)
    DeblurImage(f.input.data(), f.output.data(), kRows, kCols, 3, k.data(), kKernel, kKernel, 1.0f,
                1.0f, 0.04f, 0, 0, true, nullptr);
}

void BM_DeconvolutionOnly(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state)
    DeblurWithKernel(f.input.data(), f.output.data(), f.kernel.data(), kRows, kCols, 3, kKernel,
                     kKernel, 0.04f, 0, 0, true, nullptr);
}

void BM_PaddingOnly(benchmark::State& state) {
  Fixture& f = Shared();
  const int padRows = CanvasSide(kRows, kKernel), padCols = CanvasSide(kCols, kKernel);
  std::vector<float> canvas(GridSize(padRows, padCols) * 3);
  for (auto _ : state)
    PadImage(f.input.data(), canvas.data(), f.kernel.data(), kCols, kRows, 3, kKernel, kKernel,
             padCols, padRows, true);
}

#define VELMORA_CASE(fn) \
  BENCHMARK(fn)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true)

VELMORA_CASE(BM_BlindWhole);
VELMORA_CASE(BM_DeconvolutionOnly);
VELMORA_CASE(BM_PaddingOnly);

}  // namespace

BENCHMARK_MAIN();
