#include "estimation/working_image.h"

#include "pipeline/parallel_for.h"
#include "pipeline/pyramid.h"
#include "pipeline/spectral.h"

namespace velmora {

void GreyWorkingImage(const float* source, int rows, int cols, int channels, float gamma,
                      float* grey) {
  const size_t n = GridSize(rows, cols);
  // x to the power 1 is x: the common case needs no power at all.
  const bool linear = gamma == 1.0f;
  auto adjust = [gamma, linear](float x) { return linear ? x : PowF(x, gamma); };
  const float* s = source;
  VELMORA_PARALLEL_FOR(n)
  for (size_t i = 0; i < n; ++i) {
    float v;
    if (channels == 1) {
      v = adjust(s[i]);
    } else {
      const double r = adjust(s[i]);
      const double g = adjust(s[i + n]);
      const double b = adjust(s[i + 2 * n]);
      v = static_cast<float>(0.2989 * r + 0.587 * g + 0.114 * b);
    }
    grey[i] = ClampUnit(v);
  }
}

}  // namespace velmora
