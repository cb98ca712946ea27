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

// A planar colour picture (3 x rows x cols) of flat grey striped with noise:
// edges everywhere, yet cheap to restore.
inline std::vector<float> StripedNoise(int rows, int cols, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::vector<float> p(static_cast<size_t>(rows) * cols * 3);
  for (size_t i = 0; i < p.size(); ++i) p[i] = (i / 7) % 3 == 0 ? u(rng) : 0.5f;
  return p;
}

}  // namespace velmora::test_inputs
