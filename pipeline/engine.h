// Velmora engine: the public interface shared by the desktop application and
// the command-line tool.
//
// Images cross this interface as planar single-precision buffers: rows x
// cols x channels floats, whole planes one after another, each row-major,
// colour planes red, green, blue, values nominally in [0, 1]. Kernels are
// kernelHeight x kernelWidth floats, row-major, both sides odd, the centre
// element at the zero shift. The caller
// owns every buffer passed in; the engine owns only the scratch memory of one
// call and frees it before returning. The engine is not re-entrant: run one
// job at a time.
#pragma once

#include <cstdint>

#include "pipeline/highlights.h"

// One percentage (0 to 100, -1 = not started) written by the engine and
// polled by another thread; see progress.h for the access rules.
using ProgressCell = float;

// Settings of one job, copied by value from window to page to worker.
struct DeblurSettings {
  bool useCpu = true;
  int32_t kernelHeight = 19;
  int32_t kernelWidth = 19;
  float gamma = 1.0f;
  float tscale = 1.0f;
  float smoothness = 0.04f;
  int32_t reduceRinging = 0;
  int32_t reduceNoise = 0;
};

// Results beyond the documented ones. The entries never throw.
enum EngineResult : int {
  kEngineOutOfMemory = -2,     // an allocation failed; outputs are undefined
  kEngineInvalidArgument = -3, // sizes, channel count or kernel refused
  kEngineInternalError = -4,   // an image-library operation failed otherwise
  kEngineGpuFailed = -5,       // a device call failed; the GPU path is off from now on
  kEngineCancelled = -6,       // the job's context asked it to stop; outputs are undefined
};

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
