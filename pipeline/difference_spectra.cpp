#include "pipeline/difference_spectra.h"

#include <cmath>
#include <numbers>

namespace velmora {

namespace {

std::vector<float> Energy(int n) {
  std::vector<float> e(n);
  for (int k = 0; k < n; ++k)
    e[k] = static_cast<float>(2.0 - 2.0 * std::cos(2.0 * std::numbers::pi * k / n));
  return e;
}

}  // namespace

DifferenceEnergies::DifferenceEnergies(int rows, int cols) : a(Energy(cols)), b(Energy(rows)) {}

}  // namespace velmora
