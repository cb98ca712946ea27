// The two kernel estimators' whole blind jobs side by side, on 1 and 12
// megapixel colour pictures blurred by the project's 31 x 31 shake: each
// repetition runs the classic job and then the sharp job on the same
// picture, so that their ratio compares them on the machine as it was at
// that moment. Reported: the medians of each job's time (classic_ms,
// sharp_ms) and of the per-repetition ratio sharp / classic.
#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/bench_common.h"
#include "pipeline/engine.h"
#include "pipeline/plan_cache.h"

namespace {

using namespace velmora;
using Clock = std::chrono::steady_clock;

constexpr int kKernel = 31;

using Size = bench::JobSize;
constexpr Size kSizes[] = {bench::kJobSizes[0], bench::kJobSizes[2]};  // 1 and 12 MP

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

struct Picture {
  Size size;
  std::vector<float> input, output;
  std::vector<float> estimate = std::vector<float>(kKernel * kKernel);

  explicit Picture(const Size& s) : size(s), input(bench::PlanarPhoto(s.rows, s.cols)) {
    bench::ShakePlanes(input, s.rows, s.cols, bench::ShakeKernel(kKernel, 7));
    output.resize(input.size());
  }

  double Run(bool sharp) {
    const Clock::time_point start = Clock::now();
    if (sharp)
      DeblurImageSharp(input.data(), output.data(), size.rows, size.cols, 3, estimate.data(), kKernel,
                       kKernel, 1.0f, 0.04f, 0, 0, true, nullptr);
    else
      DeblurImage(input.data(), output.data(), size.rows, size.cols, 3, estimate.data(), kKernel,
                  kKernel, 1.0f, 1.0f, 0.04f, 0, 0, true, nullptr);
    return std::chrono::duration<double>(Clock::now() - start).count();
  }
};

void BM_Estimators(benchmark::State& state, const Size& size) {
  Picture picture(size);
  // Warm-up: plans for every size either job uses, measured, as a repeated
  // run finds them.
  picture.Run(false);
  picture.Run(true);
  MeasurePendingTransforms(3600.0);
  std::vector<double> classic, sharp, ratio;
  for (auto _ : state) {
    const double c = picture.Run(false);
    const double s = picture.Run(true);
    classic.push_back(c);
    sharp.push_back(s);
    ratio.push_back(s / c);
    state.SetIterationTime(c + s);
  }
  state.counters["classic_ms"] = Median(classic) * 1e3;
  state.counters["sharp_ms"] = Median(sharp) * 1e3;
  state.counters["sharp_over_classic"] = Median(ratio);
}

}  // namespace

int main(int argc, char** argv) {
  // The engine's console lines would bury the table: the table gets its own
  // copy of the stream and the engine's lines go nowhere.
  const int tableFd = dup(fileno(stdout));
  if (tableFd < 0 || !std::freopen("/dev/null", "w", stdout)) return 2;
  std::ofstream table("/dev/fd/" + std::to_string(tableFd));
  for (const Size& s : kSizes)
    benchmark::RegisterBenchmark(("Estimators/" + std::to_string(s.megapixels) + "MP").c_str(),
                                 [s](benchmark::State& st) { BM_Estimators(st, s); })
        ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(s.megapixels > 4 ? 3 : 5);
  benchmark::Initialize(&argc, argv);
  benchmark::BenchmarkReporter* reporter = benchmark::CreateDefaultDisplayReporter();
  reporter->SetOutputStream(&table);
  benchmark::RunSpecifiedBenchmarks(reporter);
  delete reporter;
  benchmark::Shutdown();
  return 0;
}
