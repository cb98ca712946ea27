// The sharp kernel estimator: coarse to fine on a pyramid of scales
// (1/sqrt 2)^i, each level alternating an L0-gradient latent step
// (l0_latent.h) with a masked least-squares kernel step
// (masked_kernel_solve.h) and a clean-up; large pictures are estimated on a
// window (estimation_window.h). It returns the kernel; the engine restores
// the picture with it.
#pragma once

#include <opencv2/core.hpp>

#include <optional>

#include "estimation/estimation_window.h"
#include "estimation/sharp_params.h"
#include "pipeline/engine_types.h"
#include "pipeline/highlights.h"

namespace velmora {

// Levels for a kernel whose larger side is n: floor(ln(5 / n) / ln(1 / sqrt 2)) + 1,
// at least 1.
int SharpLevelCount(int n);

// (1/sqrt 2)^level.
double SharpLevelScale(int level);

// A kernel side at a level: ceil(side x scale), made odd, at least 3 and at
// most side.
int SharpKernelSide(int side, int level);

// The pictures the levels estimate on: the grey picture shrunk to the
// level's scale by area averaging, at least kernel + 4 on each side. With
// the picture's channels given (source, rows x cols x channels planar, for
// clipping) a picture above params.windowPixels is cut, at each level, to
// the window with the most strong edges away from clipping (see
// SharpEstimatorParams::windowKernelWidths for its size); without them
// every level sees the whole picture. grey and
// source are read only and must outlive the object.
class LevelPictures {
 public:
  LevelPictures(const float* grey, int rows, int cols, const float* source, int channels,
                const SharpEstimatorParams& params);
  // The level picture for scale (1 = the finest) and the level's kernel.
  cv::Mat Picture(double scale, int kernelRows, int kernelCols) const;
  // The window of the finest picture a level at scale works on, for a
  // kernel side at the finest scale.
  EstimationWindow Window(double scale, double kernelSide) const;
  int rows() const { return finest_.rows; }
  int cols() const { return finest_.cols; }

 private:
  cv::Mat finest_;
  SharpEstimatorParams params_;
  std::optional<EstimationWindowSearch> search_;
};

// A kernel's size: rows x cols, both odd; 0 x 0 for none.
struct KernelSize {
  int rows = 0, cols = 0;
};

// The estimation on the levels' pictures; as below otherwise.
bool EstimateSharpKernel(const LevelPictures& pictures, float* kernel, int kernelRows,
                         int kernelCols, const SharpEstimatorParams& params,
                         ProgressCell* progress, KernelSize* found = nullptr);

// Only the estimation, on a grey picture (rows x cols, values in [0, 1],
// read only): kernel (kernelRows x kernelCols, caller-owned) receives the
// estimate, non-negative, summing to 1 and centred. Progress runs from 0 to
// 50. Returns false, with kernel holding the last estimate reached (or
// zeros), when the picture is too small for the kernel or no usable kernel
// came out (a flat picture).
//
// With found given, the blur's size is found as well: kernelRows x
// kernelCols is then the largest it may be (the bound, and the size of the
// kernel buffer). The levels start at the bound and each narrows the size
// to its kernel's extent plus a margin (SharpEstimatorParams::sizeTapShare
// and after); found receives the size, and the kernel is written as
// found->rows x found->cols, row-major from the buffer's start.
bool EstimateSharpKernel(const float* grey, int rows, int cols, float* kernel, int kernelRows,
                         int kernelCols, const SharpEstimatorParams& params,
                         ProgressCell* progress, KernelSize* found = nullptr);

// Only the size, for another estimator to work at: the levels of a search
// within boundRows x boundCols down to the coarsest at or above finestScale
// with a picture of at least params.sizeSearchFinestSide on its shorter side,
// and the size the finer levels would have worked at (the extent there plus
// the margin; at scale 1, the final size). 0 x 0 when no usable kernel came
// out or the picture is too small for the bound.
KernelSize FindSharpBlurSize(const LevelPictures& pictures, int boundRows, int boundCols,
                             const SharpEstimatorParams& params, double finestScale);

// The parameters for a grey working picture whose noise deviation is
// sigma (on the 0-1 scale): the kernel weight scaled by r^noisePower, r =
// min(1, max(sigma, noiseFloor) / noiseReference), and, with
// lambdaFollowsNoise, the prior's start by r within [lambdaLeast,
// lambdaStart]. Unchanged when noiseReference is 0.
SharpEstimatorParams FitToNoise(const SharpEstimatorParams& params, double sigma);

// The estimation of a picture (rows x cols x channels planar, read only,
// as the entries take it): its grey working picture at gamma, the
// parameters fitted to its noise, the clipped highlights taken as asked.
// kernel and the size search with found as in EstimateSharpKernel. The
// engine restores the picture with the kernel.
bool EstimateSharpKernelOfPicture(const float* source, int rows, int cols, int channels,
                                  float* kernel, int kernelRows, int kernelCols, float gamma,
                                  ProgressCell* progress, const SharpEstimatorParams& params = {},
                                  KernelSize* found = nullptr,
                                  Highlights highlights = Highlights::kKeep);

// The blur size of a picture (rows x cols x channels planar, as the entries
// take it) within boundRows x boundCols, found by the sharp estimator's
// coarse levels down to finestScale (see FindSharpBlurSize), for the
// classic estimator to work at. 0 x 0 when none was found.
KernelSize FindBlurSize(const float* source, int rows, int cols, int channels, float gamma,
                        int boundRows, int boundCols, const SharpEstimatorParams& params,
                        double finestScale);


// Memory. The estimation's peak for a rows x cols picture with the default
// parameters, in floats: while the window is chosen, the grey picture and
// its gradient magnitude (and a byte mask); then the grey picture, which
// every level cuts its window from, and on the window the level's canvas
// and transforms, the kernel step's planes and its normal matrix (up to
// kDenseGramLimit taps).
double SharpEstimationPeakFloats(int rows, int cols, int kernelRows, int kernelCols);

}  // namespace velmora
