// Quality benchmark: blind deblurring of the sample photographs blurred by
// generated camera shake with known kernels, by each kernel estimator.
//
// Cases: every photograph in colour at its own size, and a 255 x 255 grey
// crop of it, each blurred by eight shakes (four hand-held random walks and
// four long, thin, curved sweeps, sizes 13, 19, 25 and 31), noise of sigma
// 0.01 added and stored at 8 bits. Each is restored blindly by every
// estimator through the job code the command-line tool runs (blur size =
// the kernel's size, other settings default) and once with the true kernel.
//
// Per case: the error ratio (blind over true-kernel sum of squared errors,
// each at its best integer shift of at most 4 pixels, one kernel size of
// border left out), the kernel similarity and the blind job's time. Per
// estimator: the share of cases at ratio <= 1.5, 2 and 3, the mean and
// median ratio, the mean time.
//
// --window-check[=SHARE] also estimates each colour case with the sharp
// estimator on a window of SHARE of the picture (default 0.4), as a
// photograph larger than the estimator's window is, and reports the same
// figures beside the whole-picture ones.
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "estimation/sharp_estimator.h"
#include "pipeline/job.h"
#include "tools/metrics.h"
#include "tools/shake.h"

namespace {

using namespace velmora;

constexpr int kMaxShift = 4;
constexpr double kNoise = 0.01;
constexpr int kCropSide = 255;

struct Picture {
  std::string name;
  cv::Mat sharp;  // CV_32F BGR on the 0-1 scale
};

struct Shake {
  int size;
  uint64_t seed;
  tools::ShakeKind kind;
};

struct Case {
  const Picture* picture;
  Shake shake;
};

struct Outcome {
  double ratio = 0.0, similarity = 0.0, seconds = 0.0;
  bool estimated = false;
};

cv::Mat ToUnit(const cv::Mat& bgr8) {
  cv::Mat f;
  bgr8.convertTo(f, CV_32F, 1.0 / 255);
  return f;
}

std::vector<Picture> Pictures(const std::string& dir, bool quick) {
  std::vector<Picture> pictures;
  for (const char* name : {"coffee", "chelsea", "astronaut"}) {
    const cv::Mat photo = cv::imread(dir + "/" + name + ".png", cv::IMREAD_COLOR);
    if (photo.empty()) {
      std::fprintf(stderr, "cannot read %s/%s.png\n", dir.c_str(), name);
      std::exit(2);
    }
    pictures.push_back({name, ToUnit(photo)});
    // A small grey crop from the middle, as the classic test sets are.
    const cv::Rect middle((photo.cols - kCropSide) / 2, (photo.rows - kCropSide) / 2, kCropSide, kCropSide);
    cv::Mat grey, bgr;
    cv::cvtColor(photo(middle), grey, cv::COLOR_BGR2GRAY);
    cv::cvtColor(grey, bgr, cv::COLOR_GRAY2BGR);
    pictures.push_back({std::string(name) + "-grey255", ToUnit(bgr)});
    if (quick) break;
  }
  return pictures;
}

std::vector<Shake> Shakes(bool quick) {
  std::vector<Shake> shakes;
  const int sizes[4] = {13, 19, 25, 31};
  for (int i = 0; i < 4; ++i) {
    shakes.push_back({sizes[i], static_cast<uint64_t>(i + 1), tools::ShakeKind::kHandHeld});
    shakes.push_back({sizes[i], static_cast<uint64_t>(i + 1), tools::ShakeKind::kSweep});
    if (quick && i == 0) break;
  }
  return shakes;
}

// Runs one job the way the command-line tool does; returns the 8-bit result.
cv::Mat RunJob(const cv::Mat& blurred8, int size, const cv::Mat* knownKernel,
               KernelEstimator estimator, cv::Mat* kernelOut, int* status, double* seconds) {
  DeblurSettings settings;
  settings.kernelHeight = settings.kernelWidth = size;
  DeblurJob job(settings, nullptr);
  job.options.estimator = estimator;
  job.input = blurred8.clone();
  job.kernelPath.clear();
  if (knownKernel) {
    job.UseKnownKernel(*knownKernel);
    job.mode = kModeRemaining;
  } else {
    job.mode = kModeComplete;
  }
  job.Run();
  *status = job.status;
  *seconds = job.seconds;
  if (kernelOut) *kernelOut = job.kernel.clone();
  return job.result;
}

struct Blurred {
  cv::Mat picture8, kernel, trueRestored;
  double trueError = 0.0;
};

Blurred Blur(const Case& c) {
  Blurred b;
  b.kernel = tools::GenerateShakeKernel(c.shake.size, c.shake.seed, c.shake.kind);
  tools::BlurImage(c.picture->sharp, b.kernel, kNoise, c.shake.seed + 1000).convertTo(b.picture8, CV_8U, 255.0);
  int status = 0;
  double unused = 0.0;
  b.trueRestored = ToUnit(RunJob(b.picture8, c.shake.size, &b.kernel, KernelEstimator::kClassic,
                                 nullptr, &status, &unused));
  b.trueError = tools::BestShiftSumSquaredError(b.trueRestored, c.picture->sharp, kMaxShift, c.shake.size);
  return b;
}

Outcome Score(const Case& c, const Blurred& b, const cv::Mat& restored, const cv::Mat& kernel) {
  Outcome o;
  o.ratio = tools::BestShiftSumSquaredError(restored, c.picture->sharp, kMaxShift, c.shake.size) / b.trueError;
  o.similarity = kernel.empty() ? 0.0 : tools::KernelSimilarity(kernel, b.kernel);
  return o;
}

Outcome Blind(const Case& c, const Blurred& b, KernelEstimator estimator) {
  int status = 0;
  double seconds = 0.0;
  cv::Mat kernel;
  const cv::Mat restored = ToUnit(RunJob(b.picture8, c.shake.size, nullptr, estimator, &kernel, &status, &seconds));
  Outcome o = Score(c, b, restored, kernel);
  o.seconds = seconds;
  o.estimated = status == kJobSucceeded;
  return o;
}

// The sharp estimator on a window of share of the picture: the engine call
// with the window made smaller, as a photograph above the window's size is.
Outcome SharpOnWindow(const Case& c, const Blurred& b, double share) {
  const int rows = b.picture8.rows, cols = b.picture8.cols, n = rows * cols;
  cv::Mat unit = ToUnit(b.picture8);
  std::vector<float> in(3 * n), out(3 * n);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      for (int k = 0; k < 3; ++k) in[k * n + i * cols + j] = unit.at<cv::Vec3f>(i, j)[2 - k];
  cv::Mat kernel(c.shake.size, c.shake.size, CV_32F, cv::Scalar(0));
  SharpEstimatorParams params;
  params.windowPixels = share * n;
  const auto t0 = std::chrono::steady_clock::now();
  EstimateKernelSharp(in.data(), out.data(), rows, cols, 3, kernel.ptr<float>(), c.shake.size, c.shake.size,
                      1.0f, 0.04f, 0, 0, true, nullptr, params);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  cv::Mat restored(rows, cols, CV_32FC3);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      for (int k = 0; k < 3; ++k) restored.at<cv::Vec3f>(i, j)[2 - k] = out[k * n + i * cols + j];
  cv::Mat clipped;
  restored.convertTo(clipped, CV_8U, 255.0);  // as the job saturates
  Outcome o = Score(c, b, ToUnit(clipped), kernel);
  o.seconds = seconds;
  o.estimated = true;
  return o;
}

struct Summary {
  std::vector<double> ratios;
  double seconds = 0.0;
  void Add(const Outcome& o) {
    ratios.push_back(o.ratio);
    seconds += o.seconds;
  }
  void Print(FILE* out, const char* label) const {
    const size_t n = ratios.size();
    auto share = [&](double bound) {
      return 100.0 * std::count_if(ratios.begin(), ratios.end(), [bound](double r) { return r <= bound; }) / n;
    };
    std::vector<double> sorted = ratios;
    std::sort(sorted.begin(), sorted.end());
    double mean = 0.0;
    for (double r : ratios) mean += r / n;
    const double median = n % 2 ? sorted[n / 2] : 0.5 * (sorted[n / 2 - 1] + sorted[n / 2]);
    std::fprintf(out, "| %s | %zu | %.0f %% | %.0f %% | %.0f %% | %.2f | %.2f | %.2f s |\n", label, n,
                 share(1.5), share(2.0), share(3.0), mean, median, seconds / n);
  }
};

const char* KindName(tools::ShakeKind kind) { return kind == tools::ShakeKind::kSweep ? "sweep" : "hand-held"; }

}  // namespace

int main(int argc, char** argv) {
  std::string dir = VELMORA_SOURCE_DIR "/samples";
  bool quick = false, windowCheck = false;
  double windowShare = 0.4;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--quick") quick = true;
    else if (a.rfind("--window-check", 0) == 0) {
      windowCheck = true;
      if (a.size() > 15 && a[14] == '=') windowShare = std::atof(a.c_str() + 15);
    }
    else dir = a;
  }
  std::vector<Case> cases;
  const std::vector<Picture> pictures = Pictures(dir, quick);
  for (const Picture& p : pictures)
    for (const Shake& s : Shakes(quick)) cases.push_back({&p, s});

  // The engine logs its stages on standard output; the tables get their own
  // copy of the stream and the log goes nowhere.
  FILE* table = fdopen(dup(fileno(stdout)), "w");
  if (!table || !std::freopen("/dev/null", "w", stdout)) return 2;
  const std::string windowLabel = "sharp, colour cases, " + std::to_string(static_cast<int>(windowShare * 100 + 0.5)) + " % window";
  std::fprintf(table, "| picture | shake | size | classic ratio | classic similarity | classic s | sharp ratio | sharp similarity | sharp s |%s\n",
               windowCheck ? " sharp on the window: ratio | window similarity |" : "");
  std::fprintf(table, "|---|---|---|---|---|---|---|---|---|%s\n", windowCheck ? "---|---|" : "");
  Summary classic, sharp, whole, window;
  for (const Case& c : cases) {
    const Blurred b = Blur(c);
    const Outcome oc = Blind(c, b, KernelEstimator::kClassic);
    const Outcome os = Blind(c, b, KernelEstimator::kSharp);
    classic.Add(oc);
    sharp.Add(os);
    std::fprintf(table, "| %s | %s %llu | %d | %.2f%s | %.3f | %.2f | %.2f%s | %.3f | %.2f |", c.picture->name.c_str(),
                 KindName(c.shake.kind), static_cast<unsigned long long>(c.shake.seed), c.shake.size, oc.ratio,
                 oc.estimated ? "" : " (failed)", oc.similarity, oc.seconds, os.ratio,
                 os.estimated ? "" : " (failed)", os.similarity, os.seconds);
    const bool colour = c.picture->name.find('-') == std::string::npos;
    if (windowCheck && colour) {
      const Outcome ow = SharpOnWindow(c, b, windowShare);
      whole.Add(os);
      window.Add(ow);
      std::fprintf(table, " %.2f | %.3f |", ow.ratio, ow.similarity);
    } else if (windowCheck) {
      std::fprintf(table, " | |");
    }
    std::fprintf(table, "\n");
    std::fflush(table);
  }
  std::fprintf(table, "\n| estimator | cases | ratio <= 1.5 | ratio <= 2 | ratio <= 3 | mean ratio | median ratio | mean time |\n");
  std::fprintf(table, "|---|---|---|---|---|---|---|---|\n");
  classic.Print(table, "classic");
  sharp.Print(table, "sharp");
  if (windowCheck) {
    whole.Print(table, "sharp, colour cases, whole picture");
    window.Print(table, windowLabel.c_str());
  }
  std::fclose(table);
  return 0;
}
