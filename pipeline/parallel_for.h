// Element-wise passes share the cores through OpenMP, as FFTW's threads do.
// A loop over fewer samples than kParallelSamples runs on the calling
// thread: starting a team would cost more than it saves.
#pragma once

#include <cstddef>

namespace velmora {

inline constexpr size_t kParallelSamples = size_t{1} << 15;

}  // namespace velmora

#define VELMORA_PRAGMA(text) _Pragma(#text)
// Put before a for loop whose iterations are independent; samples is the
// loop's whole work in samples.
#define VELMORA_PARALLEL_FOR(samples) \
  VELMORA_PRAGMA(omp parallel for schedule(static) if ((samples) >= ::velmora::kParallelSamples))
