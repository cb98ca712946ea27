// Parameters of the sharp (L0-gradient) kernel estimator, kept apart from
// its run state. The defaults are the estimator's; tests and benchmarks
// change single fields.
#pragma once

namespace velmora {

struct SharpEstimatorParams {
  // Pyramid: levels at scales (1/sqrt 2)^i down to a kernel side of about 5.
  int iterationsPerLevel = 6;
  // Weight of the L0 gradient prior: starts here, divided by lambdaDecay
  // after every iteration down to lambdaFloor, carried across levels.
  float lambdaStart = 4e-3f;
  float lambdaDecay = 1.1f;
  float lambdaFloor = 1e-4f;
  // Half-quadratic splitting of the latent step: beta from 2 lambda,
  // doubling while below betaMax.
  float betaMax = 1e5f;
  // Kernel step: Tikhonov weight and conjugate-gradient steps. With
  // kernelWeightPixels > 0 the weight grows with the picture: it is
  // kernelWeight per kernelWeightPixels pixels of the mask, as the data
  // term grows with them.
  float kernelWeight = 4.0f;
  double kernelWeightPixels = 0.0;
  // The kernel step sees only this share of the latent picture's strongest
  // gradients; 1 keeps them all.
  float gradientShare = 1.0f;
  int cgSteps = 30;
  // Clean-up: entries below this share of the maximum are cut.
  float cutRatio = 0.05f;
  // Weaker entries down to this share survive when they touch a kept one
  // (hysteresis); at or above cutRatio it changes nothing.
  float keepConnectedRatio = 0.05f;
  // Pieces of the kernel (8-connected) carrying less than this share of its
  // mass are dropped, on kernels with a side of at least pruneFromSide.
  float pruneShare = 0.0f;
  int pruneFromSide = 51;
  // Starting kernels tried at the coarsest level (1 to 4: the horizontal
  // pair, then vertical and the two diagonal pairs); the one whose final
  // kernel explains the blurred gradients best goes on.
  int starts = 1;
  // The final kernel's centre of mass is moved onto the centre cell by a
  // fraction of a cell as well (bilinear), so that the restored picture
  // does not shift.
  bool subPixelCentre = false;
  // Pictures above this many pixels are estimated on a window of it.
  double windowPixels = 1.0e6;
};

}  // namespace velmora
