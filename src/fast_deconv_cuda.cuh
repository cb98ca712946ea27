// Per-element arithmetic of the GPU TV solvers (both data terms), shared by
// the device kernels and the host tests. Neighbour reads go through a reader
// (a texture on the device, HostTexture on the host) called with float
// coordinates, as texture fetches are.
#pragma once

#include "src/gpu_elements.cuh"

namespace velmora::gpu::deconv {

// conj(otf) x B.
VELMORA_HD Float2 ComputeNomin1(Float2 b, Float2 otf) {
  return MakeFloat2(b.x * otf.x + b.y * otf.y, otf.x * b.y - b.x * otf.y);
}

VELMORA_HD float ComputeDenom1(Float2 otf) { return otf.x * otf.x + otf.y * otf.y; }

// Zeros of |K|^2 would divide by 0 wherever the fields' spectrum vanishes.
VELMORA_HD float RegularDenom1(float denom1, float minVal) {
  return denom1 == 0.0f ? minVal : denom1;
}

VELMORA_HD float ComputeDenom2(Float2 gx, Float2 gy) {
  float g = gx.y * gx.y;
  g = g + gx.x * gx.x;
  g = g + gy.x * gy.x;
  g = g + gy.y * gy.y;
  return g;
}

VELMORA_HD Float4 UpdateS(Float2 n0, Float2 n1, Float2 n2, float normal) {
  return MakeFloat4(n0.x * normal, n1.x * normal, n2.x * normal, 0.0f);
}

// Shrunk circular forward differences of the estimate at (x, y), three colour
// channels; the fourth channel's difference passes unshrunk.
template <typename Reader>
VELMORA_HD void UpdateHV(const Reader& s, unsigned x, unsigned y, unsigned dataW, unsigned dataH,
                         float thre, Float4* h, Float4* v) {
  const unsigned xr = x + 1 == dataW ? 0 : x + 1;
  const unsigned yd = y + 1 == dataH ? 0 : y + 1;
  const Float4 c = s(static_cast<float>(x), static_cast<float>(y));
  const Float4 sx = s(static_cast<float>(xr), static_cast<float>(y));
  const Float4 sy = s(static_cast<float>(x), static_cast<float>(yd));
  for (int k = 0; k < 3; ++k) {
    SetChannel(h, k, Shrink(Channel(sx, k) - Channel(c, k), thre));
    SetChannel(v, k, Shrink(Channel(sy, k) - Channel(c, k), thre));
  }
  h->w = sx.w - c.w;
  v->w = sy.w - c.w;
}

// Adjoint of the circular forward differences of (h, v): one real plane per
// colour channel.
template <typename Reader>
VELMORA_HD void UpdateN(const Reader& h, const Reader& v, unsigned x, unsigned y, unsigned dataW,
                        unsigned dataH, Float2* n0, Float2* n1, Float2* n2) {
  const unsigned xl = x == 0 ? dataW - 1 : x - 1;
  const unsigned yu = y == 0 ? dataH - 1 : y - 1;
  const Float4 hc = h(static_cast<float>(x), static_cast<float>(y));
  const Float4 hl = h(static_cast<float>(xl), static_cast<float>(y));
  const Float4 vc = v(static_cast<float>(x), static_cast<float>(y));
  const Float4 vu = v(static_cast<float>(x), static_cast<float>(yu));
  *n0 = MakeFloat2((hl.x - hc.x) + (vu.x - vc.x), 0.0f);
  *n1 = MakeFloat2((hl.y - hc.y) + (vu.y - vc.y), 0.0f);
  *n2 = MakeFloat2((hl.z - hc.z) + (vu.z - vc.z), 0.0f);
}

// The image update at one frequency: (beta F(n) + numerator) / (beta D2 + D1).
VELMORA_HD Float2 UpdateFS(Float2 fs, float denom1, float denom2, Float2 nomin, float beta) {
  const float den = beta * denom2 + denom1;
  return MakeFloat2((fs.x * beta + nomin.x) / den, (fs.y * beta + nomin.y) / den);
}

// The estimate's spectrum times the transfer function: the blurred estimate.
VELMORA_HD Float2 UpdateFI(Float2 m, Float2 otf) {
  return MakeFloat2(m.x * otf.x - otf.y * m.y, m.x * otf.y + otf.x * m.y);
}

// The data term's auxiliary at one pixel: the observed value plus the shrunk
// residual of the blurred estimate (given unnormalised).
VELMORA_HD Float2 UpdateV(float blurred, float observed, float normal, float thre) {
  const float d = Shrink(normal * blurred - observed, thre);
  return MakeFloat2(observed + d, 0.0f);
}

}  // namespace velmora::gpu::deconv
