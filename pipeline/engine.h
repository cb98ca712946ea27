// Velmora engine: the entries the desktop application and the command-line
// tool were first built on, kept with their signatures and result codes.
// Each is a thin adapter over the engine's one entry, Deblur
// (include/velmora/deblur.h); the types they share are in
// pipeline/engine_types.h. This header belongs to the engine, the top layer,
// at the path its callers have always included; nothing below the engine
// includes it. The engine is not re-entrant: run one job at a time.
#pragma once

#include "pipeline/engine_types.h"
#include "velmora/vocabulary.h"

// Estimates the blur kernel from the picture, then deconvolves it.
// input, output: rows x cols x channels (1 or 3); kernel receives
// kernelHeight x kernelWidth floats. Returns 1 on success, 0 when the kernel
// estimation failed (output unchanged, kernel holds the last estimate), or an
// EngineResult.
int DeblurImage(const float* input, float* output, int rows, int cols, int channels,
                float* kernel, int kernelHeight, int kernelWidth, float gamma,
                float tscale, float smoothness, int reduceRinging, int reduceNoise,
                bool useCpu, ProgressCell* progress,
                velmora::Highlights highlights = velmora::Highlights::kKeep);

// DeblurImage with the sharp (L0-gradient) kernel estimator instead of the
// classic one; its estimation has no tscale and always runs on the CPU,
// useCpu picks the deconvolution's processor. Both kernel sides must be odd.
int DeblurImageSharp(const float* input, float* output, int rows, int cols, int channels,
                     float* kernel, int kernelHeight, int kernelWidth, float gamma,
                     float smoothness, int reduceRinging, int reduceNoise, bool useCpu,
                     ProgressCell* progress);

// Deconvolves the picture with a known kernel (used as given, not
// normalised). Returns 0 on success or an EngineResult. highlights: see
// pipeline/highlights.h; kKeep restores every sample as measured.
int DeblurWithKernel(const float* input, float* output, const float* kernel, int rows,
                     int cols, int channels, int kernelHeight, int kernelWidth,
                     float smoothness, int reduceRinging, int reduceNoise, bool useCpu,
                     ProgressCell* progress,
                     velmora::Highlights highlights = velmora::Highlights::kKeep);
