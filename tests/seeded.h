// Seeded test inputs shared by the suites: the same seed gives the same
// values on every run and machine.
#pragma once

#include <cstddef>
#include <random>
#include <vector>

namespace velmora::test_inputs {

// n values drawn uniformly from [lo, hi).
inline std::vector<float> Random(size_t n, unsigned seed, float lo = 0.0f, float hi = 1.0f) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(lo, hi);
  std::vector<float> v(n);
  for (float& x : v) x = u(rng);
  return v;
}

}  // namespace velmora::test_inputs
