// Kernel clean-up between the kernel solve and the latent update: cutting
// weak entries, normalising and re-centring, so that the estimate stays a
// compact, non-negative, centred blur.
#pragma once

namespace velmora {

// result (height x width) = kernel resampled so that its centre of mass
// falls on the centre cell; kernel sums to 1 and is left unchanged.
void CentreKernel(const float* kernel, float* result, int width, int height);

// The clean-up after each kernel solve, on kernel (kernelRows x kernelCols)
// in place: entries not above ratio x the maximum are cut, the rest is
// normalised and re-centred unless centring loses more than a tenth of the
// mass; an estimate with nothing positive, or not finite, becomes the
// impulse. centred is scratch of the same size.
void CleanUpKernel(float* kernel, float* centred, int kernelRows, int kernelCols, double ratio);

// The sharp estimator's clean-up of a raw estimate, in place: negatives and
// entries below cutRatio of the maximum are cut, except entries down to
// keepConnectedRatio of it that touch (with their eight neighbours) a kept
// one; the rest is normalised to sum 1 and moved by whole cells so that its
// centre of mass falls on the centre cell. Returns false, the kernel then
// undefined, when nothing positive and finite is left.
// Afterwards pieces (8-connected) with less than pruneShare of the mass are
// dropped too.
bool CleanUpSharpKernel(float* kernel, int kernelRows, int kernelCols, float cutRatio,
                        float keepConnectedRatio, float pruneShare = 0.0f);

// Moves a non-negative kernel by whole cells so that its centre of mass,
// rounded, is the centre cell; what leaves the grid is dropped and the rest
// renormalised to its former sum.
void ShiftToCentre(float* kernel, int kernelRows, int kernelCols);

// Whether a final kernel is practically no blur.
bool IsImpulseLike(const float* kernel, int kernelRows, int kernelCols);

}  // namespace velmora
