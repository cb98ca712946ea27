// Shock filtering: moves every pixel against the sign of the second
// derivative along the gradient, at the minmod gradient speed, so that
// smooth ramps steepen into steps (the edges the kernel solve wants).
#pragma once

namespace velmora {

// input, output: height x width floats, row-major; output receives a copy of
// input, then `iterations` explicit updates with time step dt and spacing
// divisor h. A side shorter than 2 has no neighbours to compare: the image
// is copied unchanged.
void ShockFilter(const float* input, float* output, int width, int height, int iterations,
                 float dt, float h);

}  // namespace velmora
