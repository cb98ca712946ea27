// Whole jobs at photographers' sizes: blind and non-blind deblurring of 1, 4,
// 12 and 24-megapixel colour pictures blurred by a 31 x 31 camera shake.
//
// Job/<kind>/<size>: median time of five runs with measured plans (the plans
// a repeated run uses), and counters: peak_MiB, the process's peak resident
// memory during the run; transforms, the 2-D transforms the job executes;
// floor_ms, those transforms executed alone, one after another with the same
// plans on all cores, replayed right before each run; ratio = job / floor
// (medians of the five).
// FirstRun/<kind>/<size>: one run in a fresh process with no saved plans,
// planning included, as a new machine sees it.
//
// Built against an engine without a plan cache (VELMORA_BASELINE), the same
// cases time that engine: the comparison with an earlier build. That build
// also writes the transforms its jobs execute (--write-transforms=FOLDER,
// their direction too where its log has it: VELMORA_BASELINE_LOGS_DIRECTION);
// given them (--reference-transforms=FOLDER), this build replays them too
// and reports reference_floor_ms and reference_ratio: the job against the
// floor of the earlier build's transforms, so that needing fewer transforms
// counts.
#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>
#include <unistd.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "bench/bench_common.h"
#include "pipeline/engine.h"
#include "pipeline/spectral.h"
#if !defined(VELMORA_BASELINE)
#include "pipeline/plan_cache.h"
#endif

namespace {

using namespace velmora;
using Clock = std::chrono::steady_clock;

constexpr int kKernel = 31;

using Size = bench::JobSize;
constexpr const auto& kSizes = bench::kJobSizes;

const Size& SizeOf(int megapixels) {
  for (const Size& s : kSizes)
    if (s.megapixels == megapixels) return s;
  return kSizes[0];
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// A photograph at the size, blurred by the shake with replicated borders and
// a little noise, planar red, green, blue on the 0-1 scale.
struct Picture {
  Size size;
  std::vector<float> input, output;
  cv::Mat kernel = bench::ShakeKernel(kKernel, 7);
  std::vector<float> estimate = std::vector<float>(kKernel * kKernel);

  explicit Picture(const Size& s) : size(s), input(bench::PlanarPhoto(s.rows, s.cols)) {
    bench::ShakePlanes(input, s.rows, s.cols, kernel);
    output.resize(input.size());
  }

  void Run(bool blind) {
    if (blind)
      DeblurImage(input.data(), output.data(), size.rows, size.cols, 3, estimate.data(), kKernel,
                  kKernel, 1.0f, 1.0f, 0.04f, 0, 0, true, nullptr);
    else
      DeblurWithKernel(input.data(), output.data(), kernel.ptr<float>(), size.rows, size.cols, 3,
                       kKernel, kKernel, 0.04f, 0, 0, true, nullptr);
  }
};

// The process's peak resident memory since the last reset, in MiB.
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }
double PeakMemoryMiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return 0.0;
}

std::string g_referenceFolder, g_writeFolder;

std::string CaseFile(const std::string& folder, bool blind, int megapixels) {
  return folder + "/" + (blind ? "blind_" : "known_") + std::to_string(megapixels) + "MP.txt";
}

// One transform a line: rows, cols, real (1) or complex (0), inverse (1) or
// forward (0); an earlier build that logs no direction writes forward.
std::vector<LoggedTransform> ReadTransforms(const std::string& path) {
  std::vector<LoggedTransform> log;
  std::ifstream in(path);
  int rows, cols, real, inverse;
  while (in >> rows >> cols >> real >> inverse) {
    LoggedTransform t{};
    t.rows = rows;
    t.cols = cols;
    t.real = real != 0;
#if !defined(VELMORA_BASELINE) || defined(VELMORA_BASELINE_LOGS_DIRECTION)
    t.inverse = inverse != 0;
#endif
    log.push_back(t);
  }
  return log;
}

#if defined(VELMORA_BASELINE)
void WriteTransforms(const std::string& path, const std::vector<LoggedTransform>& log) {
  std::ofstream out(path);
  for (const LoggedTransform& t : log) {
#if !defined(VELMORA_BASELINE) || defined(VELMORA_BASELINE_LOGS_DIRECTION)
    const int inverse = t.inverse ? 1 : 0;
#else
    const int inverse = 0;  // an engine that does not log it: forward
#endif
    out << t.rows << ' ' << t.cols << ' ' << (t.real ? 1 : 0) << ' ' << inverse << '\n';
  }
}
#endif

// What the repetitions of one case share: its picture and transforms.
struct CaseData {
  std::unique_ptr<Picture> picture;
  size_t transforms = 0;
#if !defined(VELMORA_BASELINE)
  std::vector<LoggedTransform> log, reference;  // the job's, and the earlier build's when given
#endif
};

CaseData& Prepare(bool blind, int megapixels) {
  static std::map<std::pair<bool, int>, CaseData> cases;
  const auto key = std::make_pair(blind, megapixels);
  if (cases.count(key)) return cases[key];
  cases.clear();  // one case's pictures at a time
  CaseData& data = cases[key];
  data.picture = std::make_unique<Picture>(SizeOf(megapixels));
#if !defined(VELMORA_BASELINE)
  SetTransformLog(&data.log);
  data.picture->Run(blind);
  SetTransformLog(nullptr);
  data.transforms = data.log.size();
  if (!g_referenceFolder.empty())
    data.reference = ReadTransforms(CaseFile(g_referenceFolder, blind, megapixels));
  // Plans for every size, measured, as a repeated run finds them.
  bench::ReplayTransforms(data.reference);
  MeasurePendingTransforms(3600.0);
#else
  std::vector<LoggedTransform> log;
  SetTransformLog(&log);
  data.picture->Run(blind);  // also the warm-up
  SetTransformLog(nullptr);
  data.transforms = log.size();
#endif
  return data;
}

// Each repetition replays the floor right before the job, so that the
// ratio compares the two on the machine as it was at that moment.
void BM_Job(benchmark::State& state, bool blind, int megapixels) {
  CaseData& data = Prepare(blind, megapixels);
  for (auto _ : state) {
#if !defined(VELMORA_BASELINE)
    const double floor = bench::ReplayTransforms(data.log);
    const double reference = data.reference.empty() ? 0.0 : bench::ReplayTransforms(data.reference);
#endif
    ResetPeakMemory();
    const Clock::time_point start = Clock::now();
    data.picture->Run(blind);
    const double seconds = Seconds(start);
    state.SetIterationTime(seconds);
    state.counters["peak_MiB"] = PeakMemoryMiB();
    state.counters["transforms"] = static_cast<double>(data.transforms);
#if !defined(VELMORA_BASELINE)
    state.counters["floor_ms"] = floor * 1e3;
    state.counters["ratio"] = seconds / floor;
    if (reference > 0) {
      state.counters["reference_floor_ms"] = reference * 1e3;
      state.counters["reference_ratio"] = seconds / reference;
    }
#endif
  }
}

// ----------------------------------------------------------- first runs

std::string g_self;

// In the child: one run with no saved plans and the planning a front end
// does after it, timed whole.
int FirstRunChild(const char* which) {
  const bool blind = std::strncmp(which, "blind", 5) == 0;
  Picture picture(SizeOf(std::atoi(std::strchr(which, ':') + 1)));
  const Clock::time_point start = Clock::now();
  picture.Run(blind);
#if !defined(VELMORA_BASELINE)
  MeasurePendingTransforms(PostJobPlanningSeconds(Seconds(start)));
#endif
  std::printf("%.6f\n", Seconds(start));
  return 0;
}

void BM_FirstRun(benchmark::State& state, bool blind, int megapixels) {
  for (auto _ : state) {
    char folder[] = "/tmp/velmora-bench-XXXXXX";
    if (!mkdtemp(folder)) {
      state.SkipWithError("no temporary folder");
      return;
    }
    const std::string command = "XDG_CACHE_HOME=" + std::string(folder) + " '" + g_self +
                                "' --first-run=" + (blind ? "blind:" : "known:") +
                                std::to_string(megapixels) + " 2>/dev/null | tail -1";
    FILE* child = popen(command.c_str(), "r");
    double seconds = 0.0;
    if (!child || std::fscanf(child, "%lf", &seconds) != 1) seconds = 0.0;
    if (child) pclose(child);
    std::system(("rm -rf '" + std::string(folder) + "'").c_str());
    if (seconds <= 0.0) {
      state.SkipWithError("the first run did not report");
      return;
    }
    state.SetIterationTime(seconds);
  }
}

void Register() {
  for (bool blind : {true, false}) {
    const char* kind = blind ? "blind" : "known";
    for (const Size& s : kSizes)
      benchmark::RegisterBenchmark(
          (std::string("Job/") + kind + "/" + std::to_string(s.megapixels) + "MP").c_str(),
          [blind, s](benchmark::State& st) { BM_Job(st, blind, s.megapixels); })
          ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(5)
          ->ReportAggregatesOnly(true);
  }
  for (auto [blind, mp] : {std::pair{true, 1}, {false, 1}, {true, 12}})
    benchmark::RegisterBenchmark(
        (std::string("FirstRun/") + (blind ? "blind" : "known") + "/" + std::to_string(mp) + "MP").c_str(),
        [blind = blind, mp = mp](benchmark::State& st) { BM_FirstRun(st, blind, mp); })
        ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(1);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--first-run=", 12) == 0) {
      // The parent reads the last line; the engine's own lines come before.
      return FirstRunChild(argv[i] + 12);
    }
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--reference-transforms=", 23) == 0)
      g_referenceFolder = argv[i] + 23;
    else if (std::strncmp(argv[i], "--write-transforms=", 19) == 0)
      g_writeFolder = argv[i] + 19;
    else
      rest.push_back(argv[i]);
  }
  argc = static_cast<int>(rest.size());
  argv = rest.data();
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  g_self = n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string(argv[0]);
#if defined(VELMORA_BASELINE)
  // Writing the earlier build's transforms needs one run of each case.
  if (!g_writeFolder.empty()) {
    for (bool blind : {true, false})
      for (const Size& s : kSizes) {
        Picture picture(s);
        std::vector<LoggedTransform> log;
        SetTransformLog(&log);
        picture.Run(blind);
        SetTransformLog(nullptr);
        WriteTransforms(CaseFile(g_writeFolder, blind, s.megapixels), log);
      }
    return 0;
  }
#endif
  Register();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
