// The few names every layer of the engine shares, from the numerics up to
// the library's public header: how clipped highlights are taken and which
// estimator finds the kernel. Plain enums, no dependencies.
#pragma once

namespace velmora {

// Highlights the sensor clipped (lamps at night).
enum class Highlights {
  kKeep,   // every sample is taken as measured
  kModel,  // clipped samples are taken as lower bounds
};

// How a blind job estimates the kernel: the classic estimator (shock-filter
// edge prediction), or the sharp one (an L0 gradient prior, a masked kernel
// solve).
enum class KernelEstimator { kClassic, kSharp };

}  // namespace velmora
