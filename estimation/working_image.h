// The grey, gamma-adjusted picture both kernel estimators work on.
#pragma once

namespace velmora {

// grey (rows x cols, caller-owned) = the source (rows x cols x channels
// planar, channels 1 or 3) raised to gamma and, for colour, weighted
// 0.2989 / 0.587 / 0.114 in double precision; then clamped to [0, 1].
void GreyWorkingImage(const float* source, int rows, int cols, int channels, float gamma,
                      float* grey);

}  // namespace velmora
