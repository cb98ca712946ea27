#include "pipeline/gpu_agreement.h"

#include <cmath>

namespace velmora {

double RelativeError(const float* gpu, const float* cpu, size_t n) {
  double difference = 0.0, reference = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double d = static_cast<double>(gpu[i]) - cpu[i];
    difference += d * d;
    reference += static_cast<double>(cpu[i]) * cpu[i];
  }
  if (!std::isfinite(difference)) return INFINITY;
  if (reference == 0.0) return difference == 0.0 ? 0.0 : INFINITY;
  return std::sqrt(difference / reference);
}

}  // namespace velmora
