// Parameters of the sharp (L0-gradient) kernel estimator, kept apart from
// its run state. The defaults are the estimator's; tests and benchmarks
// change single fields. Where a default differs from the textbook value
// named beside it, the quality benchmark (bench/quality) measured the
// difference on noisy 8-bit pictures: see bench/README.md.
#pragma once

#include <algorithm>

namespace velmora {

struct SharpEstimatorParams {
  // Pyramid: levels at scales (1/sqrt 2)^i down to a kernel side of about 5.
  int iterationsPerLevel = 8;
  // Weight of the L0 gradient prior: starts here, divided by lambdaDecay
  // after every iteration down to lambdaFloor, carried across levels. A
  // start above the textbook 4e-3 keeps only the most salient edges on the
  // coarse levels, where a wrong start is hardest to undo.
  float lambdaStart = 1e-2f;
  float lambdaDecay = 1.1f;
  float lambdaFloor = 1e-4f;
  // Half-quadratic splitting of the latent step: beta from 2 lambda,
  // doubling while below betaMax.
  float betaMax = 1e5f;
  // Kernel step: Tikhonov weight and conjugate-gradient steps. With
  // kernelWeightPixels > 0 the weight grows with the picture: it is
  // kernelWeight per kernelWeightPixels pixels of the mask, as the data
  // term and the noise it carries grow with them (textbook: a fixed 4).
  float kernelWeight = 50.0f;
  double kernelWeightPixels = 255.0 * 255.0;
  int cgSteps = 30;
  // Below 2, the kernel's prior is sum |k_i|^power by reweighting (1: L1,
  // 0.5 sparser); 2 is the plain squared weight. Taps below
  // kernelPriorFloor of the peak are weighted as if at it.
  float kernelPriorPower = 2.0f;
  float kernelPriorFloor = 0.01f;
  // With the squared weight, taps at or below kernelPriorFloor of the peak
  // (outside the support found so far) are weighted this many times more:
  // iterative support detection.
  float outsideSupportWeight = 1.0f;
  // The weights from the picture's noise, measured on the grey working
  // picture (noise_level.h; a colour picture's grey has about two thirds
  // of its channels' noise): kernelWeight holds at noiseReference and above
  // and falls as (noise / noiseReference)^noisePower below it, noise below
  // noiseFloor counting as noiseFloor. A weight tuned on noisy pictures
  // smooths the kernels of clean ones, most of all the long ones (the
  // variance alone, power 2, left them smoother than power 3). With
  // lambdaFollowsNoise the prior's start scales with the noise too, down to
  // lambdaLeast. noiseReference 0: fixed weights.
  float noiseReference = 0.0067f;  // a colour picture's grey at 0.01 a channel
  float noiseFloor = 0.002f;
  float noisePower = 3.0f;
  bool lambdaFollowsNoise = false;
  float lambdaLeast = 4e-3f;
  // Levels whose kernel has more than largeKernelTaps taps run
  // largeKernelIterations iterations of largeKernelCgSteps steps each:
  // they start close to their answer from the level below, and each of
  // their steps costs transforms of the whole window.
  int largeKernelTaps = 51 * 51;
  int largeKernelIterations = 4;
  int largeKernelCgSteps = 15;
  // The kernel step sees only this share of the latent picture's strongest
  // gradients; 1 keeps them all.
  float gradientShare = 1.0f;
  // Clean-up: entries below this share of the maximum are cut.
  float cutRatio = 0.05f;
  // Weaker entries down to this share survive when they touch a kept one
  // (hysteresis); at or above cutRatio it changes nothing.
  float keepConnectedRatio = 0.05f;
  // Pieces of the kernel (8-connected) carrying less than this share of its
  // mass are dropped, on kernels with a side of at least pruneFromSide:
  // noise leaves isolated specks on kernels of every size.
  float pruneShare = 0.05f;
  int pruneFromSide = 3;
  // The coarse levels are run from several starts: starting kernels (1 to
  // 4: the horizontal pair, then vertical and the two diagonal pairs) and
  // prior weights (lambdaStart and the alternatives that are above 0). The
  // start whose kernel and latent picture explain the picture best under
  // the prior (lowest L0 energy at the common weight) goes on, from the
  // level after exploreLevels levels.
  int starts = 1;
  float lambdaAlternatives[2] = {4e-3f, 2e-2f};
  int exploreLevels = 3;
  // The final kernel's centre of mass is moved onto the centre cell by a
  // fraction of a cell as well (bilinear), so that the restored picture
  // does not shift against the blurred one.
  bool subPixelCentre = true;
  // Pictures above this many pixels are estimated on a window of it; a
  // coarser level takes a window of the finest scale as large, shrunk,
  // unless that holds fewer than windowKernelWidths of the level's kernel
  // sides across: then it takes more of the picture, up to the larger of
  // windowPixels and windowPixelsMost of its own pixels.
  double windowPixels = 0.25e6;
  float windowKernelWidths = 15.0f;
  double windowPixelsMost = 1.5e6;
  // Finding the blur size within a bound: after every level but the finest
  // the kernel's extent (taps at or above sizeTapShare of its peak, or the
  // clean-up's cut where that is higher; the same distance each side of
  // the centre) plus sizeMarginTaps of the level's taps on each side, at
  // the finest scale, becomes the size the finer levels work at, never
  // larger than before. The margin leaves a level
  // room to find what the coarser one missed. The final kernel is cut to
  // its extent at sizeFinalShare of its peak plus sizeFinalMargin pixels on
  // each side: an estimate is a little smoother than the blur, its
  // faintest taps reach a little beyond it.
  float sizeTapShare = 0.05f;
  float sizeMarginTaps = 1.0f;
  float sizeFinalShare = 0.1f;
  int sizeFinalMargin = 0;
  // The search runs from the coarsest level whose picture has at least
  // sizeSearchLeastSide pixels on its shorter side down to the last at or
  // above sizeSearchScale; the estimation then starts afresh at the size
  // found there.
  int sizeSearchLeastSide = 64;
  double sizeSearchScale = 0.25;
  // The search's last level also has at least this many pixels on its
  // shorter side, where the picture allows.
  int sizeSearchFinestSide = 120;
  // On a picture whose shorter side is less than sizeSearchHardBelow
  // bounds, the search cleans its kernels harder than the estimation
  // (entries below sizeSearchCut of the peak, pieces below sizeSearchPrune
  // of the mass): there a support far larger than the blur fills with
  // specks that keep it wide. On larger pictures the harder clean-up would
  // cut the faint stretches of long shakes, and the specks are fewer.
  float sizeSearchHardBelow = 4.0f;
  float sizeSearchCut = 0.15f;
  float sizeSearchPrune = 0.1f;
  // Whether the search runs its coarse levels from every start, as the
  // estimation does, or from the first alone.
  bool sizeSearchExplores = false;
  // Whether the estimation after the search narrows its support level by
  // level as the search does (with the estimation's own clean-up).
  bool sizeNarrowsAfter = true;
  // The classic estimator works at the size the search finds down to this
  // scale, margin included: its own estimate has no search of its own.
  double classicSizeSearchScale = 0.35;
};

// The pixels a level at scale (1 = the finest) works on in a picture larger
// than its window, for a kernel whose larger side is kernelSide at the
// finest scale: the finest window's share, or windowKernelWidths of the
// level's kernel sides across, at most the larger of windowPixels and
// windowPixelsMost. Largest at the finest level: the estimation's memory.
inline double SharpLevelPixels(const SharpEstimatorParams& p, double scale, double kernelSide) {
  const double across = static_cast<double>(p.windowKernelWidths) * kernelSide * scale;
  return std::min(std::max(p.windowPixels, p.windowPixelsMost),
                  std::max(p.windowPixels * scale * scale, across * across));
}

}  // namespace velmora
