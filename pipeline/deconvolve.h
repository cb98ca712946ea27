// Non-blind deconvolution of a planar picture: padding onto a canvas, a
// total-variation solve per plane, optional ringing reduction, cropping.
#pragma once

#include <cstddef>

#include "pipeline/engine_types.h"
#include "pipeline/highlights.h"

namespace velmora {

// Canvas side for an image side and kernel side: the smallest multiple of
// 256 that is at least side + 2 kernelSide.
int CanvasSide(int side, int kernelSide);

// Solver weights, each formed in double precision and rounded once.
float FirstSolveWeight(float smoothness, int reduceNoise);
float SecondSolveWeight(float smoothness, int deringFactor, int reduceNoise);

// input, output: rows x cols x channels (1 or 3); kernel: kernelRows x
// kernelCols. Returns 0, or kEngineInvalidArgument when the sizes, samples
// or kernel are refused; failures inside throw (std::bad_alloc,
// cv::Exception, GpuFault, JobCancelled) for the engine's entry to turn
// into its result. A solver refusing an even kernel is reported on the
// console only, and that plane comes back unrestored. With highlights
// kModel and clipped samples in the picture, those are taken as lower
// bounds (on the CPU); the output is not clipped.
int DeconvolveImage(const float* input, float* output, const float* kernel, int rows, int cols,
                    int channels, int kernelRows, int kernelCols, float smoothness,
                    int deringFactor, int reduceNoise, bool useCpu, ProgressCell* progress,
                    Highlights highlights = Highlights::kKeep);

// The size preconditions shared by the engine entries.
bool EngineSizesValid(int rows, int cols, int channels, int kernelRows, int kernelCols);

// Whether all `count` samples are finite: the entries refuse NaN and
// infinities, which no solve can restore and which would spread to every
// output sample.
bool SamplesFinite(const float* samples, size_t count);

// Memory. The deconvolution's peak for one call, in floats: the canvas of
// every plane, the padding's coarser levels and scratch, then one plane's
// solve. The caller's input and output are not counted.
double DeconvolutionPeakFloats(int rows, int cols, int channels, int kernelRows, int kernelCols,
                               int reduceRinging, int reduceNoise);

// What modelling clipped highlights adds to a job's peak, in floats, on the
// safe side (the picture may or may not show lamps): the picture in linear
// light for the estimation and again for the restore, the raised data and
// its spectrum, and the clipped samples' indices.
double ClippedModelPeakFloats(int rows, int cols, int channels, int kernelRows, int kernelCols);

}  // namespace velmora
