// The engine's shared vocabulary: the progress cell, the settings record
// and the results beyond success and failure. Every layer uses these, from
// the numerics up; the entries themselves are declared in pipeline/engine.h.
//
// Images cross the engine as planar single-precision buffers
// (PlanarImage): rows x cols x channels floats, whole planes one after
// another, each row-major, colour planes red, green, blue, values nominally in
// [0, 1]. Kernels (BlurKernel) are kernelHeight x kernelWidth floats,
// row-major, both sides odd, the centre element at the zero shift. The caller
// owns every buffer passed in; the engine owns only the scratch memory of one
// call and frees it before returning.
#pragma once

#include <cstdint>

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
