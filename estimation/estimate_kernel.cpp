#include "estimation/estimate_kernel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "estimation/fourier_solvers.h"
#include "estimation/gpu_estimation_steps.h"
#include "estimation/kernel_cleanup.h"
#include "estimation/level_spectra.h"
#include "estimation/prediction.h"
#include "estimation/working_image.h"
#include "pipeline/job_context.h"
#include "pipeline/parallel_for.h"
#include "pipeline/plan_cache.h"
#include "pipeline/progress.h"
#include "pipeline/pyramid.h"
#include "pipeline/resample.h"
#include "pipeline/spectral.h"
#include "src/gpu_check.h"

namespace velmora {

namespace {

// One plane of a pyramid (image or kernel).
struct Plane {
  FloatArray data;
  int rows = 0, cols = 0;
};

Plane MakePlane(int rows, int cols) {
  Plane p;
  p.rows = rows;
  p.cols = cols;
  p.data = FloatArray(GridSize(rows, cols));
  p.data.zero();
  return p;
}

// The arguments of one estimation.
struct Arguments {
  const float* source;
  int rows, cols, channels;
  float* outputKernel;
  int d, e;
  float gamma, tscale;
  bool useCpu;
  ProgressCell* progress;
};

// Every coarser level is shrunk from level 0 directly, never from the level
// above it, so that its size and content follow from the full size alone.
std::vector<Plane> ImagePyramid(const Arguments& a, int levels) {
  std::vector<Plane> pyramid;
  pyramid.push_back(MakePlane(a.rows, a.cols));
  const float* base = pyramid[0].data.get();
  GreyWorkingImage(a.source, a.rows, a.cols, a.channels, a.gamma, pyramid[0].data.get());
  for (int p = 1; p < levels; ++p) {
    const float s = PowInt(kPyramidRatio, p);
    pyramid.push_back(MakePlane(ScaledSize(a.rows, s), ScaledSize(a.cols, s)));
    ResizeByScale(base, pyramid[p].data.get(), a.rows, a.cols, s);
    Checkpoint();
  }
  return pyramid;
}

std::vector<Plane> KernelPyramid(int d, int e, int levels) {
  std::vector<Plane> pyramid;
  for (int p = 0; p < levels; ++p) pyramid.push_back(MakePlane(LevelKernelSide(d, p), LevelKernelSide(e, p)));
  return pyramid;
}

// The level's starting kernel, only used to taper the level image's edges:
// the impulse at the coarsest level, else the coarser level's result.
FloatArray InitialKernel(const std::vector<Plane>& kernels, int w) {
  const Plane& k = kernels[w];
  const size_t n = GridSize(k.rows, k.cols);
  FloatArray h(n);
  if (w + 1 == static_cast<int>(kernels.size())) {
    SetImpulse(h.get(), k.rows, k.cols);
    return h;
  }
  const Plane& coarse = kernels[w + 1];
  ResizeToSize(coarse.data.get(), h.get(), coarse.rows, coarse.cols, k.rows, k.cols);
  // A resampled kernel that sums to nothing starts the level afresh.
  NormaliseKernel(h.get(), k.rows, k.cols);
  return h;
}

// Runs the iterations of level w. latent is the level's starting latent
// image and receives its final one. Returns the last latent update's result
// (true when the level ran without one).
bool RunIterations(const Arguments& job, int w, int A, int rows, int cols, Plane* kernel,
                   const LevelSpectra& spectra, const float* scaleMap, float* latent) {
  const int D = kernel->rows, F = kernel->cols;
  const double ratio = KernelThresholdRatio(job.d, job.e);
  PredictionParams params = InitialPredictionParams(latent, cols, rows, F, D);
  // Everything the iterations need is allocated here, once per level.
  LevelWorkspace work(spectra, rows, cols);
  CImageMyPredictionEngine engine;
  engine.SetWorkspace(work.plane(0), work.plane(1), work.plane(2), work.plane(3));
  FloatArray centred(GridSize(D, F));
  // The GPU solvers take whole spectra: made once for all the iterations.
  std::optional<GpuLevelSteps> gpu;
  if (!job.useCpu) gpu.emplace(spectra, rows, cols);
  bool success = true;
  for (int t = 0; t < A; ++t) {
    Checkpoint();
    if (job.progress) {
      const float value = IterationProgress(w, t, A);
      if (value >= 0.0f) WriteProgress(job.progress, value);
    }
    params.image = latent;
    engine.SetParameters(params, scaleMap, job.tscale);
    engine.Predict(job.useCpu);
    Checkpoint();
    params.sigma = engine.sigma();
    params.gradThreshold = engine.gradThreshold();
    params.dt = engine.dt();
    params.scaleThreshold = t <= 3 ? engine.scaleThreshold() : 0.0f;

    float* v = kernel->data.get();
    if (gpu)
      gpu->EstimateKernelFFT(engine.GradX(), engine.GradY(), D, F, v, kKernelRegularisation);
    else
      EstimateKernelFFT(engine.GradX(), engine.GradY(), spectra, rows, cols, D, F, v,
                        kKernelRegularisation, &work);
    CleanUpKernel(v, centred.get(), D, F, ratio);
    if (w == 0 && t == A - 1) break;  // the final kernel: no latent update
    Checkpoint();
    const bool check = w == 0 && t > 0;
    success = gpu ? gpu->UpdateLatentImage(v, latent, D, F, kImageRegularisation, check)
                  : UpdateLatentImage(v, latent, spectra, rows, cols, D, F, kImageRegularisation,
                                      check, &work);
    if (!success) break;
  }
  return success;
}

// One pyramid level; previousLatent holds the coarser level's final latent
// image on entry (empty at the coarsest) and this level's on return.
bool RunLevel(const Arguments& job, int w, int r, std::vector<Plane>& images,
              std::vector<Plane>& kernels, Plane* previousLatent) {
  if (w == 2) WriteProgress(job.progress, 2.0f);
  if (w == 1) WriteProgress(job.progress, 5.0f);
  if (w == 0) WriteProgress(job.progress, 15.0f);
  EngineLogFormat("Level %d\n", w);
  Checkpoint();
  const int A = IterationCount(w, r);
  Plane& image = images[w];
  const int rows = image.rows, cols = image.cols;
  Plane& kernel = kernels[w];
  LevelSpectra spectra;
  {
    const FloatArray h = InitialKernel(kernels, w);
    BuildLevelSpectra(image.data.get(), h.get(), image.cols, image.rows, kernel.cols,
                      kernel.rows, &spectra);
  }
  Checkpoint();
  Plane latent = MakePlane(rows, cols);
  if (previousLatent->data.get())
    ResizeToSize(previousLatent->data.get(), latent.data.get(), previousLatent->rows,
                 previousLatent->cols, rows, cols);
  else
    std::copy_n(image.data.get(), GridSize(rows, cols), latent.data.get());
  // From here on the level image lives on in its spectra only.
  image.data.reset();
  FloatArray scaleMap(GridSize(rows, cols));
  ComputeScaleMap(spectra, scaleMap.get(), rows, cols, ScaleMapWindow(kernel.rows),
                  ScaleMapWindow(kernel.cols));
  Checkpoint();
  spectra.Bx.reset();
  spectra.By.reset();
  const bool success =
      RunIterations(job, w, A, rows, cols, &kernel, spectra, scaleMap.get(), latent.data.get());
  scaleMap.reset();
  ReleaseLevelSpectra(&spectra);
  if (w == 0)
    std::copy_n(kernel.data.get(), GridSize(job.d, job.e), job.outputKernel);
  *previousLatent = w > 0 ? std::move(latent) : Plane();
  return success;
}

}  // namespace

int LevelCount(int m) { return PyramidLevelCount(m, kPyramidRatio); }

int IterationCount(int w, int r) {
  if (w == 0) return 8;
  const float q = static_cast<float>(static_cast<double>(r - w - 1) / r * 6.0);
  return 11 - static_cast<int>(FloorF(q));
}

int LevelKernelSide(int side, int w) {
  return w == 0 ? side : CoarseKernelSide(side, PowInt(kPyramidRatio, w));
}

double KernelThresholdRatio(int kernelHeight, int kernelWidth) {
  return static_cast<long long>(kernelHeight) * kernelWidth > 2000 ? 0.03 : 0.07;
}

int ScaleMapWindow(int kernelSide) {
  int p = static_cast<int>(kernelSide * 0.6 + 0.5);
  if (p % 2 == 0) ++p;
  return p;
}

float IterationProgress(int w, int t, int A) {
  if (w == 2) return static_cast<float>(2.0 + 3.0 * t / A);
  if (w == 1) return static_cast<float>(5.0 + 10.0 * t / A);
  if (w == 0 && t < A - 1) return static_cast<float>(15.0 + 35.0 * t / (A - 1));
  return -1.0f;
}

bool EstimateClassicKernel(const float* source, int rows, int cols, int channels, float* kernel,
                           int kernelHeight, int kernelWidth, float gamma, float tscale,
                           bool useCpu, ProgressCell* progress, Highlights highlights) {
  const EstimationPicture estimated(source, rows, cols, channels, highlights);
  const Arguments job{estimated.planes(), rows,   cols,       channels,     kernel,
                      kernelHeight,       kernelWidth, estimated.Gamma(gamma), tscale,
                      useCpu,             progress};
  EngineLog("start kernel estimation...\n");
  const int r = LevelCount(std::max(kernelHeight, kernelWidth));
  std::vector<Plane> images = ImagePyramid(job, r);
  std::vector<Plane> kernels = KernelPyramid(kernelHeight, kernelWidth, r);
  bool success = true;
  const FixedTransformPlans samePlansEveryRun;
  Plane previousLatent;
  for (int w = r - 1; w >= 0; --w) success = RunLevel(job, w, r, images, kernels, &previousLatent);
  return success;
}

double ClassicEstimationPeakFloats(int rows, int cols, int kernelRows, int kernelCols) {
  const double n = static_cast<double>(rows) * cols;
  const double padded = static_cast<double>(PaddedLength(rows + kernelRows - 1)) *
                        PaddedLength(cols + kernelCols - 1);
  const double iterating = 0.62 * n + (2.0 * n + 2.0 * padded) + 2.0 * n + 4.0 * std::max(n, padded) + 2.0 * n;
  const double building = 1.62 * n + 9.0 * n + 2.0 * padded;
  return std::max(iterating, building);
}

}  // namespace velmora
