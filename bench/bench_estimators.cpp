// The two kernel estimators' whole blind jobs side by side, on 1 and 12
// megapixel colour pictures blurred by the project's 31 x 31 shake: each
// repetition runs the classic job and then the sharp job on the same
// picture, so that their ratio compares them on the machine as it was at
// that moment. Reported: the medians of each job's time (classic_ms,
// sharp_ms) and of the per-repetition ratio sharp / classic, which the
// label sets against its target (at most 2 at 1 MP, 1.5 at 12 MP).
//
// A third case times the sharp job alone on a 4 MP photograph (2560 x 1600)
// blurred by a 101 x 101 shake, whose target is 20 s on 2 cores: the median
// as sharp_s.
//
// The AutoSize cases time, on the same 1 and 12 MP pictures, each
// estimator's job given the true size (31) and the job that finds the size
// within the largest bound the picture allows, one after the other in each
// repetition: the medians of the per-repetition ratios auto / given
// (sharp_auto_over_given, classic_auto_over_given), target at most 1.5.
//
// The Highlights case times, on a 1 MP night scene with clipped lamps
// (tools/night_scene.h, a 31 px sweep), each estimator's job taking the
// samples as measured and the job modelling the clipped highlights, one
// after the other in each repetition: the medians of the ratios model /
// keep (sharp_model_over_keep, classic_model_over_keep), target at most 1.5.
#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "bench/bench_common.h"
#include "engine/entries.h"
#include "estimation/sharp_estimator.h"
#include "pipeline/engine.h"
#include "frontend/job.h"
#include "pipeline/plan_cache.h"
#include "tools/night_scene.h"
#include "tools/shake.h"

namespace {

using namespace velmora;
using Clock = std::chrono::steady_clock;

constexpr int kKernel = 31;

using Size = bench::JobSize;
struct Comparison {
  Size size;
  double targetRatio;  // sharp / classic
};
constexpr Comparison kComparisons[] = {{bench::kJobSizes[0], 2.0}, {bench::kJobSizes[2], 1.5}};  // 1 and 12 MP

// The large-shake case: a 4 MP photograph and a shake of 101 px.
constexpr int kLargeRows = 1600, kLargeCols = 2560, kLargeKernel = 101;
constexpr double kLargeTargetSeconds = 20.0;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// A rows x cols planar RGB picture from the shared photograph name, resized
// to fit if it differs; the sample picture where the shared folder is
// absent.
std::vector<float> SharedPhoto(const char* name, int rows, int cols) {
  const cv::Mat photo = cv::imread(std::string(VELMORA_SOURCE_DIR "/../shared/photos/") + name, cv::IMREAD_COLOR);
  if (photo.empty()) return bench::PlanarPhoto(rows, cols);
  return bench::PlanarFrom(photo, rows, cols, cv::INTER_AREA);
}

struct Picture {
  int rows, cols, kernel;
  std::vector<float> input, output;
  std::vector<float> estimate;

  Picture(std::vector<float> photo, int r, int c, int k)
      : rows(r), cols(c), kernel(k), input(std::move(photo)), estimate(static_cast<size_t>(k) * k) {
    bench::ShakePlanes(input, rows, cols, bench::ShakeKernel(kernel, 7));
    output.resize(input.size());
  }

  // A picture already blurred (planar RGB).
  struct Blurred {};
  Picture(Blurred, std::vector<float> planes, int r, int c, int k)
      : rows(r), cols(c), kernel(k), input(std::move(planes)), output(input.size()),
        estimate(static_cast<size_t>(k) * k) {}

  // The job that finds the size within the largest bound the picture
  // allows; the estimate buffer holds the bound.
  double RunFindingSize(bool sharp) {
    const int boundRows = LargestBlurSide(rows), boundCols = LargestBlurSide(cols);
    std::vector<float> kernelBuffer(static_cast<size_t>(boundRows) * boundCols);
    KernelSize found;
    const Clock::time_point start = Clock::now();
    if (sharp)
      DeblurSharp(input.data(), output.data(), rows, cols, 3, kernelBuffer.data(), boundRows, boundCols,
                  1.0f, 0.04f, 0, 0, true, nullptr, SharpEstimatorParams{}, &found);
    else
      DeblurClassicFindingSize(input.data(), output.data(), rows, cols, 3, kernelBuffer.data(), boundRows,
                               boundCols, 1.0f, 1.0f, 0.04f, 0, 0, true, nullptr, SharpEstimatorParams{},
                               &found);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    lastFound = found;
    return seconds;
  }

  KernelSize lastFound;

  double Run(bool sharp, Highlights highlights = Highlights::kKeep) {
    const Clock::time_point start = Clock::now();
    if (sharp)
      DeblurSharp(input.data(), output.data(), rows, cols, 3, estimate.data(), kernel, kernel, 1.0f, 0.04f, 0,
                  0, true, nullptr, SharpEstimatorParams{}, nullptr, highlights);
    else
      DeblurImage(input.data(), output.data(), rows, cols, 3, estimate.data(), kernel, kernel, 1.0f, 1.0f,
                  0.04f, 0, 0, true, nullptr, highlights);
    return std::chrono::duration<double>(Clock::now() - start).count();
  }
};

std::string Fixed(double v, int digits) {
  std::ostringstream out;
  out.setf(std::ios::fixed);
  out.precision(digits);
  out << v;
  return out.str();
}

void BM_Estimators(benchmark::State& state, const Comparison& comparison) {
  const Size& size = comparison.size;
  Picture picture(bench::PlanarPhoto(size.rows, size.cols), size.rows, size.cols, kKernel);
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
  const double medianRatio = Median(ratio);
  state.counters["classic_ms"] = Median(classic) * 1e3;
  state.counters["sharp_ms"] = Median(sharp) * 1e3;
  state.counters["sharp_over_classic"] = medianRatio;
  state.SetLabel("sharp/classic " + Fixed(medianRatio, 2) + "x, target <= " + Fixed(comparison.targetRatio, 1) +
                 "x: " + (medianRatio <= comparison.targetRatio ? "met" : "MISSED"));
}

constexpr double kAutoTargetRatio = 1.5;

void BM_AutoSize(benchmark::State& state, const Size& size) {
  Picture picture(bench::PlanarPhoto(size.rows, size.cols), size.rows, size.cols, kKernel);
  for (bool sharp : {false, true}) {
    picture.Run(sharp);
    picture.RunFindingSize(sharp);
  }
  MeasurePendingTransforms(3600.0);
  std::vector<double> ratios[2], autoSeconds[2];
  KernelSize found[2];
  for (auto _ : state) {
    double total = 0.0;
    for (bool sharp : {false, true}) {
      const double given = picture.Run(sharp);
      const double automatic = picture.RunFindingSize(sharp);
      ratios[sharp].push_back(automatic / given);
      autoSeconds[sharp].push_back(automatic);
      found[sharp] = picture.lastFound;
      total += given + automatic;
    }
    state.SetIterationTime(total);
  }
  std::string label;
  for (bool sharp : {false, true}) {
    const std::string name = sharp ? "sharp" : "classic";
    const double ratio = Median(ratios[sharp]);
    state.counters[name + "_auto_over_given"] = ratio;
    state.counters[name + "_auto_ms"] = Median(autoSeconds[sharp]) * 1e3;
    label += name + " auto/given " + Fixed(ratio, 2) + "x (found " + std::to_string(found[sharp].rows) + " x " +
             std::to_string(found[sharp].cols) + ")" + (ratio <= kAutoTargetRatio ? " met" : " MISSED") +
             (sharp ? "" : "; ");
  }
  state.SetLabel(label + ", target <= " + Fixed(kAutoTargetRatio, 1) + "x");
}

constexpr double kHighlightsTargetRatio = 1.5;

// The night scene of a shared photograph (or of a flat grey picture) at
// 1280 x 800, shaken by a 31 px sweep and recorded as a camera would: the
// quality benchmark's night1mp/21-75 case "onestandsout, sweep 312", where
// both jobs restore with the kernel they find (on some pictures the job
// that keeps the samples finds an impulse and skips the restore, which
// would flatter its time).
Picture NightPicture() {
  constexpr int rows = 800, cols = 1280;
  const cv::Mat photo = cv::imread(VELMORA_SOURCE_DIR "/../shared/photos/onestandsout.jpg", cv::IMREAD_COLOR);
  cv::Mat day;
  if (photo.empty())
    cv::merge(std::vector<cv::Mat>{cv::Mat(rows, cols, CV_32F, cv::Scalar(0.3f)),
                                   cv::Mat(rows, cols, CV_32F, cv::Scalar(0.4f)),
                                   cv::Mat(rows, cols, CV_32F, cv::Scalar(0.5f))}, day);
  else {
    cv::resize(photo, day, cv::Size(cols, rows), 0, 0, cv::INTER_AREA);
    day.convertTo(day, CV_32F, 1.0 / 255);
  }
  const cv::Mat scene = tools::NightScene(day, 3);
  const cv::Mat kernel = tools::GenerateShakeKernel(kKernel, 312, tools::ShakeKind::kSweep);
  const cv::Mat stored = tools::CameraRecord(scene, kernel, 0.005, 1312);
  return Picture(Picture::Blurred{}, bench::PlanarFrom(stored, rows, cols, cv::INTER_AREA), rows, cols, kKernel);
}

void BM_Highlights(benchmark::State& state) {
  Picture picture = NightPicture();
  for (bool sharp : {false, true})
    for (Highlights h : {Highlights::kKeep, Highlights::kModel}) picture.Run(sharp, h);
  MeasurePendingTransforms(3600.0);
  std::vector<double> ratios[2], keeps[2], models[2];
  for (auto _ : state) {
    double total = 0.0;
    for (bool sharp : {false, true}) {
      const double keep = picture.Run(sharp, Highlights::kKeep);
      const double model = picture.Run(sharp, Highlights::kModel);
      ratios[sharp].push_back(model / keep);
      keeps[sharp].push_back(keep);
      models[sharp].push_back(model);
      total += keep + model;
    }
    state.SetIterationTime(total);
  }
  const bool lamps = ModelsHighlights(Highlights::kModel, picture.input.data(), picture.rows, picture.cols, 3);
  std::string label = lamps ? "" : "NO LAMPS SHOWN; ";
  for (bool sharp : {false, true}) {
    const std::string name = sharp ? "sharp" : "classic";
    const double ratio = Median(ratios[sharp]);
    state.counters[name + "_model_over_keep"] = ratio;
    state.counters[name + "_keep_ms"] = Median(keeps[sharp]) * 1e3;
    state.counters[name + "_model_ms"] = Median(models[sharp]) * 1e3;
    label += name + " model/keep " + Fixed(ratio, 2) + "x" + (ratio <= kHighlightsTargetRatio ? " met" : " MISSED") +
             (sharp ? "" : "; ");
  }
  state.SetLabel(label + ", target <= " + Fixed(kHighlightsTargetRatio, 1) + "x");
}

void BM_SharpLargeShake(benchmark::State& state) {
  Picture picture(SharedPhoto("eveningglow.jpg", kLargeRows, kLargeCols), kLargeRows, kLargeCols, kLargeKernel);
  picture.Run(true);
  MeasurePendingTransforms(3600.0);
  std::vector<double> sharp;
  for (auto _ : state) {
    const double s = picture.Run(true);
    sharp.push_back(s);
    state.SetIterationTime(s);
  }
  const double median = Median(sharp);
  state.counters["sharp_s"] = median;
  state.SetLabel("target <= " + Fixed(kLargeTargetSeconds, 0) + " s on 2 cores (" +
                 std::to_string(std::thread::hardware_concurrency()) + " here): " +
                 (median <= kLargeTargetSeconds ? "met" : "MISSED"));
}

}  // namespace

int main(int argc, char** argv) {
  // The engine's console lines would bury the table: the table gets its own
  // copy of the stream and the engine's lines go nowhere.
  const int tableFd = dup(fileno(stdout));
  if (tableFd < 0 || !std::freopen("/dev/null", "w", stdout)) return 2;
  std::ofstream table("/dev/fd/" + std::to_string(tableFd));
  for (const Comparison& c : kComparisons)
    benchmark::RegisterBenchmark(("Estimators/" + std::to_string(c.size.megapixels) + "MP").c_str(),
                                 [c](benchmark::State& st) { BM_Estimators(st, c); })
        ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(c.size.megapixels > 4 ? 3 : 5);
  for (const Comparison& c : kComparisons)
    benchmark::RegisterBenchmark(("AutoSize/" + std::to_string(c.size.megapixels) + "MP").c_str(),
                                 [c](benchmark::State& st) { BM_AutoSize(st, c.size); })
        ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
  benchmark::RegisterBenchmark("Highlights/1MP", BM_Highlights)
      ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
  benchmark::RegisterBenchmark("SharpLargeShake/4MP/101px", BM_SharpLargeShake)
      ->Unit(benchmark::kSecond)->UseManualTime()->Iterations(3);
  benchmark::Initialize(&argc, argv);
  benchmark::BenchmarkReporter* reporter = benchmark::CreateDefaultDisplayReporter();
  reporter->SetOutputStream(&table);
  benchmark::RunSpecifiedBenchmarks(reporter);
  delete reporter;
  benchmark::Shutdown();
  return 0;
}
