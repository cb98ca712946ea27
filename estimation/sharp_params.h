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
  // Kernel step: Tikhonov weight and conjugate-gradient steps.
  float kernelWeight = 4.0f;
  int cgSteps = 30;
  // Clean-up: entries below this share of the maximum are cut.
  float cutRatio = 0.05f;
  // Weaker entries down to this share survive when they touch a kept one
  // (hysteresis); at or above cutRatio it changes nothing.
  float keepConnectedRatio = 0.05f;
  // Pictures above this many pixels are estimated on a window of it.
  double windowPixels = 1.0e6;
};

}  // namespace velmora
