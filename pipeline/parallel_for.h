// Element-wise passes share the cores through OpenMP, as FFTW's threads do.
// A loop over fewer samples than kParallelSamples runs on the calling
// thread: starting a team would cost more than it saves.
#pragma once

#include <cstddef>

namespace velmora {

inline constexpr size_t kParallelSamples = size_t{1} << 15;

}  // namespace velmora

// Builds a hot row function for wider vector units as well, chosen at run
// time where the processor has them. The order of every sum is the same in
// each build, and contraction stays off: so are the results.
#ifdef VELMORA_NO_TARGET_CLONES
#define VELMORA_WIDE_VECTORS
#else
#define VELMORA_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#endif

#define VELMORA_PRAGMA(text) _Pragma(#text)
// Put before a for loop whose iterations are independent; samples is the
// loop's whole work in samples.
#define VELMORA_PARALLEL_FOR(samples) \
  VELMORA_PRAGMA(omp parallel for schedule(static) if ((samples) >= ::velmora::kParallelSamples))
