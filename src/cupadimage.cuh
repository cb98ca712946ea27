// Per-frequency arithmetic of the GPU padding kernels, shared by the device
// kernels and the host tests.
#pragma once

#include "src/gpu_elements.cuh"

namespace velmora::gpu::pad {

VELMORA_HD float Energy(Float2 a) { return a.x * a.x + a.y * a.y; }

// |Gx|^2 + |Gy|^2, summed in the order the CPU sums it.
VELMORA_HD Float2 ComputeDerrs(Float2 gx, Float2 gy) {
  float s = gx.y * gx.y;
  s = s + gx.x * gx.x;
  s = s + gy.x * gy.x;
  s = s + gy.y * gy.y;
  return MakeFloat2(s, 0.0f);
}

// 1 + 0.5 D + 0.25 (|Gxx|^2 + |Gyy|^2 + |Gxy|^2): the sum of energies in
// single precision, the weight in double, rounded once.
VELMORA_HD Float2 ComputeWt(Float2 gxx, Float2 gyy, Float2 gxy, float derrs) {
  const float s = Energy(gxx) + Energy(gyy) + Energy(gxy);
  const double weight = 1.0 + 0.5 * static_cast<double>(derrs) + 0.25 * static_cast<double>(s);
  return MakeFloat2(static_cast<float>(weight), 0.0f);
}

VELMORA_HD Float2 ComputeF2(Float2 f) { return MakeFloat2(Energy(f), 0.0f); }

// One refinement at one frequency: deconvolve B by F with derivative
// weighting, then blur again by F and smooth.
VELMORA_HD Float2 ComputeFreqI(Float2 b, Float2 f, float f2, float wt, float derrs, float wtIreg,
                               float wtBreg) {
  const float numRe = wt * (f.x * b.x + f.y * b.y);
  const float numIm = wt * (f.x * b.y - f.y * b.x);
  const float den = f2 * wt + wtIreg * derrs;
  const float qRe = numRe / den, qIm = numIm / den;
  const float blurRe = f.x * qRe - f.y * qIm;
  const float blurIm = f.x * qIm + f.y * qRe;
  const float smooth = wt + wtBreg * derrs;
  return MakeFloat2(wt * blurRe / smooth, wt * blurIm / smooth);
}

// Back to a pixel: scaled real part, clamped to [0, 1].
VELMORA_HD float ComputeOut(Float2 inverse, float normal) {
  const float v = inverse.x * normal;
  return v > 1.0f ? 1.0f : v < 0.0f ? 0.0f : v;
}

}  // namespace velmora::gpu::pad
