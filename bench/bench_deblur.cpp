// Non-blind deblurring of a 1024 x 768 colour picture with a 31 x 31 shake
// kernel, and boundary padding alone. Each case also reports its number of
// 2-D transforms, and a "floor" twin replays exactly those transforms (their
// execution time only): the ratio of the two is what the rest of the work
// costs.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_common.h"
#include "pipeline/deconvolve.h"
#include "pipeline/engine.h"
#include "pipeline/pad_image.h"
#include "pipeline/spectral.h"

namespace {

using namespace velmora;

constexpr int kRows = 768, kCols = 1024, kKernel = 31;

struct Fixture {
  std::vector<float> input = bench::PlanarPhoto(kRows, kCols);
  std::vector<float> output = std::vector<float>(input.size());
  cv::Mat kernel = bench::ShakeKernel(kKernel, 7);
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

void Deblur(int reduceNoise, int reduceRinging) {
  Fixture& f = Shared();
  DeblurWithKernel(f.input.data(), f.output.data(), f.kernel.ptr<float>(), kRows, kCols, 3,
                   kKernel, kKernel, 0.04f, reduceRinging, reduceNoise, true, nullptr);
}

void Pad() {
  Fixture& f = Shared();
  const int padRows = CanvasSide(kRows, kKernel), padCols = CanvasSide(kCols, kKernel);
  static std::vector<float> canvas(GridSize(padRows, padCols) * 3);
  PadImage(f.input.data(), canvas.data(), f.kernel.ptr<float>(), kCols, kRows, 3, kKernel,
           kKernel, padCols, padRows, true);
}

template <typename Body>
void Measure(benchmark::State& state, Body body) {
  const auto sizes = bench::LogTransforms(body);
  for (auto _ : state) body();
  state.counters["transforms"] = static_cast<double>(sizes.size());
}

template <typename Body>
void Floor(benchmark::State& state, Body body) {
  const auto sizes = bench::LogTransforms(body);
  for (auto _ : state) state.SetIterationTime(bench::ReplayTransforms(sizes));
  state.counters["transforms"] = static_cast<double>(sizes.size());
}

void BM_DeblurTVL2(benchmark::State& s) { Measure(s, [&] { Deblur(0, s.range(0)); }); }
void BM_DeblurTVL1(benchmark::State& s) { Measure(s, [&] { Deblur(1, s.range(0)); }); }
void BM_PadImage(benchmark::State& s) { Measure(s, Pad); }
void BM_FloorTVL2(benchmark::State& s) { Floor(s, [&] { Deblur(0, s.range(0)); }); }
void BM_FloorTVL1(benchmark::State& s) { Floor(s, [&] { Deblur(1, s.range(0)); }); }
void BM_FloorPadImage(benchmark::State& s) { Floor(s, Pad); }

#define VELMORA_CASE(fn) \
  BENCHMARK(fn)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true)

VELMORA_CASE(BM_PadImage);
VELMORA_CASE(BM_FloorPadImage)->UseManualTime();
VELMORA_CASE(BM_DeblurTVL2)->ArgName("ringing")->Arg(0)->Arg(1);
VELMORA_CASE(BM_FloorTVL2)->UseManualTime()->ArgName("ringing")->Arg(0)->Arg(1);
VELMORA_CASE(BM_DeblurTVL1)->ArgName("ringing")->Arg(0)->Arg(1);
VELMORA_CASE(BM_FloorTVL1)->UseManualTime()->ArgName("ringing")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
