#include "estimation/sharp_estimator.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "estimation/estimation_window.h"
#include "estimation/kernel_cleanup.h"
#include "estimation/l0_latent.h"
#include "estimation/masked_kernel_solve.h"
#include "estimation/noise_level.h"
#include "estimation/working_image.h"
#include "pipeline/deconvolve.h"
#include "pipeline/job_context.h"
#include "pipeline/progress.h"
#include "pipeline/plan_cache.h"
#include "pipeline/pyramid.h"
#include "pipeline/spectral.h"

namespace velmora {

namespace {

constexpr double kLevelRatio = 0.70710678118654752;  // 1 / sqrt 2
constexpr int kSmallestSide = 5;                      // the coarsest kernel's side, about
constexpr int kPictureBeyondKernel = 4;               // a level picture's least excess

struct Kernel {
  std::vector<float> taps;
  int rows = 0, cols = 0;
};

// A pair of taps at the centre, the coarsest level's start: horizontal
// (start 0), vertical (1) or diagonal (2, 3).
Kernel StartingKernel(int rows, int cols, int start) {
  Kernel k{std::vector<float>(GridSize(rows, cols), 0.0f), rows, cols};
  static constexpr int kStep[4][2] = {{0, 1}, {1, 0}, {1, 1}, {1, -1}};
  const int r = rows / 2, c = cols / 2;
  k.taps[GridSize(r, cols) + c] = 0.5f;
  k.taps[GridSize(r + kStep[start][0], cols) + c + kStep[start][1]] = 0.5f;
  return k;
}

float Tap(const Kernel& k, int r, int c) {
  if (r < 0 || c < 0 || r >= k.rows || c >= k.cols) return 0.0f;
  return k.taps[GridSize(r, k.cols) + c];
}

// The coarser level's kernel scaled up by sqrt 2 about its centre cell
// (bilinear), then normalised and centred.
Kernel ScaleUp(const Kernel& from, int rows, int cols) {
  Kernel to{std::vector<float>(GridSize(rows, cols), 0.0f), rows, cols};
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const double y = (i - rows / 2) * kLevelRatio + from.rows / 2;
      const double x = (j - cols / 2) * kLevelRatio + from.cols / 2;
      const int y0 = static_cast<int>(std::floor(y)), x0 = static_cast<int>(std::floor(x));
      const float fy = static_cast<float>(y - y0), fx = static_cast<float>(x - x0);
      to.taps[GridSize(i, cols) + j] =
          (1 - fy) * ((1 - fx) * Tap(from, y0, x0) + fx * Tap(from, y0, x0 + 1)) +
          fy * ((1 - fx) * Tap(from, y0 + 1, x0) + fx * Tap(from, y0 + 1, x0 + 1));
    }
  NormaliseKernel(to.taps.data(), rows, cols);
  ShiftToCentre(to.taps.data(), rows, cols);
  return to;
}

}  // namespace

LevelPictures::LevelPictures(const float* grey, int rows, int cols, const float* source,
                             int channels, const SharpEstimatorParams& params)
    : finest_(rows, cols, CV_32F, const_cast<float*>(grey)), params_(params) {
  if (source && static_cast<double>(rows) * cols > params.windowPixels)
    search_.emplace(grey, source, rows, cols, channels);
}

EstimationWindow LevelPictures::Window(double scale, double kernelSide) const {
  if (!search_) return {0, 0, finest_.rows, finest_.cols};
  // More than the finest window's share where a long shake needs it: it has
  // few usable edges per pixel, and its kernel many taps for the data to
  // decide.
  return search_->Window(SharpLevelPixels(params_, scale, kernelSide) / (scale * scale));
}

cv::Mat LevelPictures::Picture(double scale, int kernelRows, int kernelCols) const {
  const EstimationWindow w = Window(scale, std::max(kernelRows, kernelCols) / std::max(scale, 1e-6));
  const cv::Mat finest = finest_(cv::Rect(w.col0, w.row0, w.cols, w.rows));
  const int rows = std::max(static_cast<int>(std::lround(finest.rows * scale)), kernelRows + kPictureBeyondKernel);
  const int cols = std::max(static_cast<int>(std::lround(finest.cols * scale)), kernelCols + kPictureBeyondKernel);
  if (rows == finest.rows && cols == finest.cols) return finest.clone();
  cv::Mat level;
  cv::resize(finest, level, cv::Size(cols, rows), 0.0, 0.0, cv::INTER_AREA);
  return level;
}

int SharpLevelCount(int n) {
  const int levels = static_cast<int>(std::floor(std::log(static_cast<double>(kSmallestSide) / n) /
                                                 std::log(kLevelRatio))) + 1;
  return std::max(1, levels);
}

double SharpLevelScale(int level) { return std::pow(kLevelRatio, level); }

int SharpKernelSide(int side, int level) {
  int s = static_cast<int>(std::ceil(side * SharpLevelScale(level) - 1e-9));
  if (s % 2 == 0) ++s;
  return std::min(side, std::max(3, s));
}

namespace {

// Per-tap weights of the kernel's prior from the last estimate, for the
// faint stretches of a long path that a global cut loses: with p =
// kernelPriorPower < 2, an Lp prior by iteratively reweighted least squares
// (tap i weighs (max(k_i, floor) / max k)^(p - 2): 1 at the strongest tap,
// growing as taps fade); otherwise support detection (taps above the floor
// weigh 1, the rest outsideSupportWeight). floor = kernelPriorFloor x max k.
void SparseTapWeights(const std::vector<float>& kernel, const SharpEstimatorParams& params,
                      std::vector<float>* weights) {
  const float peak = *std::max_element(kernel.begin(), kernel.end());
  weights->resize(kernel.size());
  if (!(peak > 0.0f)) {
    std::fill(weights->begin(), weights->end(), 1.0f);
    return;
  }
  const float floor = params.kernelPriorFloor * peak;
  for (size_t i = 0; i < kernel.size(); ++i) {
    if (params.kernelPriorPower < 2.0f)
      (*weights)[i] = std::pow(std::max(kernel[i], floor) / peak, params.kernelPriorPower - 2.0f);
    else
      (*weights)[i] = kernel[i] > floor ? 1.0f : params.outsideSupportWeight;
  }
}

// Where the estimation stands between levels, and the kernel size at the
// finest scale the levels work at (the size asked for, or when finding it,
// what has been found so far).
struct Estimate {
  Kernel kernel;
  float lambda = 0.0f;
  double energy = 0.0;  // when asked for: the L0 energy at the level's end
  bool usable = true;
  int sizeRows = 0, sizeCols = 0;
};

// The kernel's extent about its centre cell: 2 d + 1 where d is the
// farthest row (column) offset of a tap at or above share of the peak.
KernelSize SymmetricExtent(const Kernel& k, float share) {
  const float peak = *std::max_element(k.taps.begin(), k.taps.end());
  int farRow = 0, farCol = 0;
  for (int i = 0; i < k.rows; ++i)
    for (int j = 0; j < k.cols; ++j)
      if (k.taps[GridSize(i, k.cols) + j] >= share * peak && k.taps[GridSize(i, k.cols) + j] > 0.0f) {
        farRow = std::max(farRow, std::abs(i - k.rows / 2));
        farCol = std::max(farCol, std::abs(j - k.cols / 2));
      }
  return {2 * farRow + 1, 2 * farCol + 1};
}

// The middle rows x cols of a kernel (both no larger than it), renormalised.
Kernel CropAboutCentre(const Kernel& k, int rows, int cols) {
  Kernel to{std::vector<float>(GridSize(rows, cols)), rows, cols};
  const int r0 = k.rows / 2 - rows / 2, c0 = k.cols / 2 - cols / 2;
  for (int i = 0; i < rows; ++i)
    std::copy_n(&k.taps[GridSize(r0 + i, k.cols) + c0], cols, &to.taps[GridSize(i, cols)]);
  NormaliseKernel(to.taps.data(), rows, cols);
  return to;
}

int OddAtLeast(double side) {
  int s = static_cast<int>(std::ceil(side - 1e-9));
  return s % 2 == 0 ? s + 1 : s;
}

// The size a found kernel is cut to: its extent at sizeFinalShare plus the
// final margin, within the kernel, and three taps at least (the smallest
// size a user can choose, and what every other step takes).
KernelSize FinalSize(const Kernel& k, const SharpEstimatorParams& params) {
  const KernelSize extent = SymmetricExtent(k, params.sizeFinalShare);
  return {std::clamp(extent.rows + 2 * params.sizeFinalMargin, std::min(3, k.rows), k.rows),
          std::clamp(extent.cols + 2 * params.sizeFinalMargin, std::min(3, k.cols), k.cols)};
}

// While finding the size: the size the levels finer than this one (at
// scale) work at, from this level's kernel.
void NarrowToExtent(Estimate* e, double scale, const SharpEstimatorParams& params) {
  // Not below the clean-up's own cut: what it keeps is the kernel.
  const KernelSize extent = SymmetricExtent(e->kernel, std::max(params.sizeTapShare, params.cutRatio));
  const double margin = 2.0 * params.sizeMarginTaps;
  e->sizeRows = std::clamp(OddAtLeast((extent.rows + margin) / scale), 3, e->sizeRows);
  e->sizeCols = std::clamp(OddAtLeast((extent.cols + margin) / scale), 3, e->sizeCols);
}

// The iterations of one level from the estimate given; progress runs from
// done to done + share. With energyLambda > 0 the result carries its L0
// energy at that weight.
Estimate RunLevel(const cv::Mat& picture, Estimate e, const SharpEstimatorParams& params,
                  int sideForPruning, ProgressCell* progress, double done, double share,
                  float energyLambda = 0.0f) {
  const int kr = e.kernel.rows, kc = e.kernel.cols;
  Kernel& k = e.kernel;
  const PeriodicCanvas canvas =
      MakePeriodicCanvas(picture.ptr<float>(), picture.rows, picture.cols, kr + 2, kc + 2);
  L0Workspace scratch(canvas);
  FloatArray latent(GridSize(canvas.canvasRows, canvas.canvasCols));
  MaskedKernelProblem problem(picture.ptr<float>(), picture.rows, picture.cols, kr, kc);
  problem.KeepStrongestGradients(params.gradientShare);
  const float weight = params.kernelWeightPixels > 0.0
                           ? static_cast<float>(params.kernelWeight * problem.MaskedPixels() /
                                                params.kernelWeightPixels)
                           : params.kernelWeight;
  const float prune = sideForPruning >= params.pruneFromSide ? params.pruneShare : 0.0f;
  std::vector<float> tapWeights;
  const bool reweighted = params.kernelPriorPower < 2.0f || params.outsideSupportWeight != 1.0f;
  // Large kernels arrive nearly right from the level below, and their
  // steps cost the most: fewer of them.
  const bool large = kr * kc > params.largeKernelTaps;
  const int iterations = large ? params.largeKernelIterations : params.iterationsPerLevel;
  const int cgSteps = large ? params.largeKernelCgSteps : params.cgSteps;
  for (int t = 0; t < iterations; ++t) {
    Checkpoint();
    if (progress) WriteProgress(progress, static_cast<float>(50.0 * (done + share * t / iterations)));
    L0LatentUpdate(canvas, k.taps.data(), kr, kc, e.lambda, params.betaMax, latent.get(), &scratch);
    if (reweighted) SparseTapWeights(k.taps, params, &tapWeights);
    problem.Solve(latent.get(), canvas.canvasCols, weight, cgSteps, k.taps.data(), true,
                  reweighted ? tapWeights.data() : nullptr);
    if (!CleanUpSharpKernel(k.taps.data(), kr, kc, params.cutRatio, params.keepConnectedRatio, prune)) {
      e.usable = false;
      return e;
    }
    e.lambda = std::max(e.lambda / params.lambdaDecay, params.lambdaFloor);
  }
  if (energyLambda > 0.0f) {
    L0LatentUpdate(canvas, k.taps.data(), kr, kc, energyLambda, params.betaMax, latent.get(), &scratch);
    e.energy = L0Energy(canvas, k.taps.data(), kr, kc, energyLambda, params.betaMax, latent.get(), &scratch);
  }
  return e;
}

// A start of the coarse levels: a starting kernel and a prior weight.
struct Start {
  int kernel;
  float lambda;
};

std::vector<Start> Starts(const SharpEstimatorParams& params) {
  std::vector<Start> starts;
  std::vector<float> lambdas{params.lambdaStart};
  for (float l : params.lambdaAlternatives)
    if (l > 0.0f) lambdas.push_back(l);
  for (int k = 0; k < std::clamp(params.starts, 1, 4); ++k)
    for (float l : lambdas) starts.push_back({k, l});
  return starts;
}

// An estimate yet to start, of kernelRows x kernelCols.
Estimate SizedEstimate(int kernelRows, int kernelCols) {
  Estimate e;
  e.sizeRows = kernelRows;
  e.sizeCols = kernelCols;
  return e;
}

// Progress follows the pixels worked on, level by level: each level's
// share (the explored levels once per start), and in *work their sum.
std::vector<double> LevelShares(int rows, int cols, int levels, int explored, size_t starts,
                                double* work) {
  std::vector<double> share(levels);
  for (int level = 0; level < levels; ++level) {
    share[level] = rows * SharpLevelScale(level) * cols * SharpLevelScale(level) *
                   (level >= levels - explored ? static_cast<double>(starts) : 1.0);
    *work += share[level];
  }
  return share;
}

// The weight the default start reaches after the explored levels: the
// common measure of the starts, and where the chosen one goes on from.
float LambdaAfterExploring(const SharpEstimatorParams& params, int explored) {
  float lambda = params.lambdaStart;
  for (int i = 0; i < explored * params.iterationsPerLevel; ++i)
    lambda = std::max(lambda / params.lambdaDecay, params.lambdaFloor);
  return lambda;
}

// The levels from the coarsest down to lastLevel for a kernel of
// kernelRows x kernelCols, or, finding the size, of at most that. Progress
// runs from 0 to 50 over all the levels, lastLevel or not. Finding the
// size, the coarsest level is also the first whose picture has at least
// params.sizeSearchLeastSide pixels on its shorter side.
Estimate RunLevels(const LevelPictures& pictures, int kernelRows, int kernelCols,
                   const SharpEstimatorParams& params, ProgressCell* progress, bool findSize,
                   int lastLevel) {
  const int rows = pictures.rows(), cols = pictures.cols();
  int levels = SharpLevelCount(std::max(kernelRows, kernelCols));
  if (findSize)
    while (levels > 1 && std::min(rows, cols) * SharpLevelScale(levels - 1) < params.sizeSearchLeastSide)
      --levels;
  const int side = std::max(kernelRows, kernelCols);
  const std::vector<Start> starts = Starts(params);
  // The coarse levels run once per start when there are several.
  const int explored = starts.size() > 1 ? std::clamp(params.exploreLevels, 1, levels) : 0;
  double work = 0.0;
  const std::vector<double> share = LevelShares(rows, cols, levels, explored, starts.size(), &work);
  const float lambdaAfter = LambdaAfterExploring(params, explored);

  auto kernelSides = [&](const Estimate& e, int level) {
    return std::pair{SharpKernelSide(e.sizeRows, level), SharpKernelSide(e.sizeCols, level)};
  };
  double done = 0.0;
  // Runs the levels from `from` down to `to`, each from the level above's
  // kernel; the first from the estimate given as it is.
  auto runLevels = [&](Estimate e, int from, int to, bool scored) {
    for (int level = from; level >= std::max(to, lastLevel) && e.usable; --level) {
      EngineLogFormat("Level %d\n", level);
      const auto [kr, kc] = kernelSides(e, level);
      if (level != from) e.kernel = ScaleUp(e.kernel, kr, kc);
      const cv::Mat picture = pictures.Picture(SharpLevelScale(level), kr, kc);
      const double part = share[level] / work / (level >= levels - explored ? starts.size() : 1);
      e = RunLevel(picture, e, params, side, progress, done, part,
                   scored && level == to ? lambdaAfter : 0.0f);
      done += part;
      if (findSize && e.usable && level > 0) NarrowToExtent(&e, SharpLevelScale(level), params);
    }
    return e;
  };
  const Estimate first = SizedEstimate(kernelRows, kernelCols);
  const auto [coarseRows, coarseCols] = kernelSides(first, levels - 1);
  Estimate e = first;
  if (explored > 0) {
    e.usable = false;
    for (const Start& start : starts) {
      Estimate from = first;
      from.kernel = StartingKernel(coarseRows, coarseCols, start.kernel);
      from.lambda = start.lambda;
      Estimate tried = runLevels(from, levels - 1, levels - explored, true);
      if (tried.usable && (!e.usable || tried.energy < e.energy)) e = tried;
    }
    e.lambda = lambdaAfter;
    if (e.usable && explored < levels && levels - explored - 1 >= lastLevel) {
      const auto [kr, kc] = kernelSides(e, levels - explored - 1);
      e.kernel = ScaleUp(e.kernel, kr, kc);
      e = runLevels(e, levels - explored - 1, 0, false);
    }
  } else {
    e.kernel = StartingKernel(coarseRows, coarseCols, starts[0].kernel);
    e.lambda = starts[0].lambda;
    e = runLevels(e, levels - 1, 0, false);
  }
  return e;
}

// A picture less than sizeSearchHardBelow bounds across: the search cleans
// harder there, and the estimation after it narrows to that share too.
bool SmallForBound(const LevelPictures& pictures, int boundRows, int boundCols,
                   const SharpEstimatorParams& params) {
  return std::min(pictures.rows(), pictures.cols()) < params.sizeSearchHardBelow * std::max(boundRows, boundCols);
}

}  // namespace

bool EstimateSharpKernel(const float* grey, int rows, int cols, float* kernel, int kernelRows,
                         int kernelCols, const SharpEstimatorParams& params,
                         ProgressCell* progress, KernelSize* found) {
  // The same kernel whatever plans the cache holds, as the entries give.
  const FixedTransformPlans samePlansEveryRun;
  return EstimateSharpKernel(LevelPictures(grey, rows, cols, nullptr, 0, params), kernel,
                             kernelRows, kernelCols, params, progress, found);
}

bool EstimateSharpKernel(const LevelPictures& pictures, float* kernel, int kernelRows,
                         int kernelCols, const SharpEstimatorParams& params,
                         ProgressCell* progress, KernelSize* found) {
  std::fill_n(kernel, GridSize(kernelRows, kernelCols), 0.0f);
  if (found) *found = {};
  if (pictures.rows() < kernelRows + kPictureBeyondKernel ||
      pictures.cols() < kernelCols + kPictureBeyondKernel)
    return false;
  KernelSize size{kernelRows, kernelCols};
  if (found) {
    size = FindSharpBlurSize(pictures, kernelRows, kernelCols, params, params.sizeSearchScale);
    if (size.rows == 0) return false;
    EngineLogFormat("estimating at %d x %d\n", size.rows, size.cols);
  }
  SharpEstimatorParams estimation = params;
  if (found && SmallForBound(pictures, kernelRows, kernelCols, params))
    estimation.sizeTapShare = std::max(params.sizeTapShare, params.sizeSearchCut);
  Estimate e = RunLevels(pictures, size.rows, size.cols, estimation, progress,
                         found && params.sizeNarrowsAfter, 0);
  Kernel& k = e.kernel;
  auto give = [&] {
    std::copy(k.taps.begin(), k.taps.end(), kernel);
    if (found) *found = {k.rows, k.cols};
  };
  if (!e.usable) {
    if (found || (k.rows == kernelRows && k.cols == kernelCols)) give();
    return false;
  }
  if (params.subPixelCentre) {
    std::vector<float> centred(k.taps.size());
    CentreKernel(k.taps.data(), centred.data(), k.cols, k.rows);
    k.taps = std::move(centred);
    NormaliseKernel(k.taps.data(), k.rows, k.cols);
  }
  if (found) {
    const KernelSize size = FinalSize(k, params);
    k = CropAboutCentre(k, size.rows, size.cols);
  }
  give();
  return true;
}

KernelSize FindSharpBlurSize(const LevelPictures& pictures, int boundRows, int boundCols,
                             const SharpEstimatorParams& params, double finestScale) {
  if (pictures.rows() < boundRows + kPictureBeyondKernel ||
      pictures.cols() < boundCols + kPictureBeyondKernel)
    return {};
  // A level whose picture is small tells the size too coarsely: the search
  // goes finer there.
  const int shorter = std::min(pictures.rows(), pictures.cols());
  int lastLevel = 0;
  while (SharpLevelScale(lastLevel + 1) >= finestScale &&
         shorter * SharpLevelScale(lastLevel + 1) >= params.sizeSearchFinestSide)
    ++lastLevel;
  SharpEstimatorParams search = params;
  if (SmallForBound(pictures, boundRows, boundCols, params)) {
    search.cutRatio = std::max(params.cutRatio, params.sizeSearchCut);
    search.keepConnectedRatio = std::max(params.keepConnectedRatio, params.sizeSearchCut);
    search.pruneShare = std::max(params.pruneShare, params.sizeSearchPrune);
  }
  // One start: the estimation after the search explores its own.
  if (!params.sizeSearchExplores) search.lambdaAlternatives[0] = search.lambdaAlternatives[1] = 0.0f;
  const Estimate e = RunLevels(pictures, boundRows, boundCols, search, nullptr, true, lastLevel);
  if (!e.usable) return {};
  if (lastLevel > 0) return {e.sizeRows, e.sizeCols};
  return FinalSize(e.kernel, params);
}

}  // namespace velmora
