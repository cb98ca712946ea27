// The entries the front ends were first built on: each checks its
// arguments, then runs the engine's blind or known-kernel job under the
// engine's guard, as Deblur does.
#include <cmath>

#include "engine/blind.h"
#include "engine/engine_guard.h"
#include "engine/entries.h"
#include "pipeline/numerics.h"
#include "pipeline/engine.h"

namespace velmora {

// The ringing switch as the solvers take it: the second solve's weight is
// ten times the first's.
int DeringFactor(int reduceRinging) { return 10 * reduceRinging; }

int DeblurSharp(const float* input, float* output, int rows, int cols, int channels, float* kernel,
                int kernelHeight, int kernelWidth, float gamma, float smoothness, int reduceRinging,
                int reduceNoise, bool useCpu, ProgressCell* progress,
                const SharpEstimatorParams& params, KernelSize* found, Highlights highlights) {
  const BlindJob job{input,      output,     rows,        cols,        channels,   kernel,
                     kernelHeight, kernelWidth, gamma,    1.0f,        smoothness, DeringFactor(reduceRinging),
                     reduceNoise, useCpu,   progress,     highlights};
  if (!BlindJobValid(job, true)) return kEngineInvalidArgument;
  return GuardedEngineCall(rows, cols, [&] { return SharpBlindJob(job, params, found); });
}

int DeblurClassicFindingSize(const float* input, float* output, int rows, int cols, int channels,
                             float* kernel, int boundRows, int boundCols, float gamma, float tscale,
                             float smoothness, int reduceRinging, int reduceNoise, bool useCpu,
                             ProgressCell* progress, const SharpEstimatorParams& params,
                             KernelSize* found, Highlights highlights) {
  *found = {};
  const BlindJob job{input,     output,    rows,  cols,   channels,   kernel,
                     boundRows, boundCols, gamma, tscale, smoothness, DeringFactor(reduceRinging),
                     reduceNoise, useCpu,  progress, highlights};
  if (!BlindJobValid(job, true)) return kEngineInvalidArgument;
  return GuardedEngineCall(rows, cols, [&] { return ClassicBlindJobFindingSize(job, params, found); });
}

int RestoreKnownKernel(const float* input, float* output, const float* kernel, int rows, int cols,
                       int channels, int kernelHeight, int kernelWidth, float smoothness,
                       int reduceRinging, int reduceNoise, bool useCpu, ProgressCell* progress,
                       Highlights highlights) {
  if (!kernel || kernelHeight < 1 || kernelWidth < 1) return kEngineInvalidArgument;
  // A kernel without positive finite mass has no zero-frequency response:
  // the solve would divide 0 by 0 and return a black picture.
  double sum = 0.0;
  for (size_t i = 0; i < GridSize(kernelHeight, kernelWidth); ++i) sum += kernel[i];
  if (!(sum > 0.0) || !std::isfinite(sum)) return kEngineInvalidArgument;
  return GuardedEngineCall(rows, cols, [&] {
    return DeconvolveImage(input, output, kernel, rows, cols, channels, kernelHeight, kernelWidth,
                           smoothness, DeringFactor(reduceRinging), reduceNoise, useCpu, progress,
                           highlights);
  });
}

}  // namespace velmora

int DeblurImage(const float* input, float* output, int rows, int cols, int channels,
                float* kernel, int kernelHeight, int kernelWidth, float gamma, float tscale,
                float smoothness, int reduceRinging, int reduceNoise, bool useCpu,
                ProgressCell* progress, velmora::Highlights highlights) {
  const velmora::BlindJob job{input,       output,     rows,        cols,       channels,
                              kernel,      kernelHeight, kernelWidth, gamma,    tscale,
                              smoothness,  velmora::DeringFactor(reduceRinging), reduceNoise, useCpu, progress,
                              highlights};
  if (!velmora::BlindJobValid(job, false)) return kEngineInvalidArgument;
  return velmora::GuardedEngineCall(rows, cols, [&] { return velmora::ClassicBlindJob(job); });
}

int DeblurImageSharp(const float* input, float* output, int rows, int cols, int channels,
                     float* kernel, int kernelHeight, int kernelWidth, float gamma,
                     float smoothness, int reduceRinging, int reduceNoise, bool useCpu,
                     ProgressCell* progress) {
  return velmora::DeblurSharp(input, output, rows, cols, channels, kernel, kernelHeight,
                              kernelWidth, gamma, smoothness, reduceRinging, reduceNoise, useCpu,
                              progress, velmora::SharpEstimatorParams{});
}

int DeblurWithKernel(const float* input, float* output, const float* kernel, int rows, int cols,
                     int channels, int kernelHeight, int kernelWidth, float smoothness,
                     int reduceRinging, int reduceNoise, bool useCpu, ProgressCell* progress,
                     velmora::Highlights highlights) {
  return velmora::RestoreKnownKernel(input, output, kernel, rows, cols, channels, kernelHeight,
                                     kernelWidth, smoothness, reduceRinging, reduceNoise, useCpu,
                                     progress, highlights);
}
