// Per-element arithmetic of the GPU kernel-estimation kernels, shared by the
// device kernels and the host tests. Neighbour reads go through a reader
// (a texture on the device, HostTexture on the host) called with integer
// coordinates as floats; coordinates past an edge read the edge element.
#pragma once

#include <math.h>

#include "src/gpu_elements.cuh"

namespace velmora::gpu::estimate {

// The kernel spectrum at one frequency from the gradients' spectra a, b and
// the blurred image's p, q: 0.5 (conj(a) p + conj(b) q) / (0.5 (|a|^2 +
// |b|^2) + wtKreg). Sums run in the order of the CPU solver; the scalings
// and divisions are made in double and rounded once, which gives the same
// floats as the CPU's single-precision steps.
VELMORA_HD Float2 ComputeIpad(Float2 a, Float2 b, Float2 p, Float2 q, float wtKreg) {
  const float s = (a.x * a.x + a.y * a.y) + (b.x * b.x + b.y * b.y);
  const float den = static_cast<float>(0.5 * static_cast<double>(s) + static_cast<double>(wtKreg));
  const float re = a.x * p.x + a.y * p.y + b.x * q.x + b.y * q.y;
  const float im = a.x * p.y - a.y * p.x + b.x * q.y - b.y * q.x;
  return MakeFloat2(static_cast<float>(0.5 * static_cast<double>(re) / den),
                    static_cast<float>(0.5 * static_cast<double>(im) / den));
}

// The latent image's spectrum at one frequency: wt conj(f) b / (wt |f|^2 +
// wtIreg derrs), f the kernel's transfer function, b the blurred image's.
VELMORA_HD Float2 ComputeI(Float2 f, float wt, float derrs, Float2 b, float wtIreg) {
  const float den = (f.x * f.x + f.y * f.y) * wt + wtIreg * derrs;
  return MakeFloat2(wt * (f.x * b.x + f.y * b.y) / den, wt * (f.x * b.y - b.x * f.y) / den);
}

// An element and its four neighbours along the axes. x - 1 and y - 1 are
// formed in unsigned arithmetic, so at 0 they are huge and read the last
// element of the row or column; every rule that would use such a read
// replaces it.
struct Cross {
  float c, l, r, u, d;
};

template <typename Reader>
VELMORA_HD Cross ReadCross(const Reader& image, unsigned x, unsigned y) {
  const float fx = static_cast<float>(x), fy = static_cast<float>(y);
  Cross n;
  n.c = image(fx, fy);
  n.l = image(static_cast<float>(x - 1u), fy);
  n.r = image(static_cast<float>(x + 1u), fy);
  n.u = image(fx, static_cast<float>(y - 1u));
  n.d = image(fx, static_cast<float>(y + 1u));
  return n;
}

// What the first shock pass leaves per pixel: the minmod speed, the
// activity |Ix| + |Iy| and the central differences.
struct ShockSlopes {
  float grad, grad2, ix, iy;
};

// The smaller magnitude of two one-sided differences, 0 where they
// disagree in sign (an extremum does not move).
VELMORA_HD float Minmod(float plus, float minus) {
  const float ap = fabsf(plus), am = fabsf(minus);
  return plus * minus < 0.0f ? 0.0f : (ap < am ? ap : am);
}

template <typename Reader>
VELMORA_HD ShockSlopes ComputeOrshockS1(const Reader& image, unsigned x, unsigned y, unsigned rows,
                                        unsigned cols) {
  const Cross n = ReadCross(image, x, y);
  const float dxp = x == cols - 1 ? 0.0f : n.r - n.c;
  const float dxm = x == 0 ? 0.0f : n.c - n.l;
  const float dyp = y == rows - 1 ? 0.0f : n.d - n.c;
  const float dym = y == 0 ? 0.0f : n.c - n.u;
  const float mx = Minmod(dxp, dxm), my = Minmod(dyp, dym);
  ShockSlopes s;
  s.grad = static_cast<float>(sqrt(static_cast<double>(mx * mx + my * my)));
  s.ix = 0.5f * (dxp + dxm);
  s.iy = 0.5f * (dyp + dym);
  s.grad2 = fabsf(s.ix) + fabsf(s.iy);
  return s;
}

// The moved pixel: c - dt (invH (grad sign(L))), L the second derivative
// along the gradient from the image, its central differences xDiff and
// yDiff (as the first pass wrote them) and that pass's grad and grad2.
template <typename Reader>
VELMORA_HD float ComputeOrshockS2(const Reader& image, const Reader& xDiff, const Reader& yDiff,
                                  float grad, float grad2, float dt, float invH, unsigned x,
                                  unsigned y, unsigned rows, unsigned cols) {
  const Cross n = ReadCross(image, x, y);
  const float fx = static_cast<float>(x), fy = static_cast<float>(y);
  float ixx = (n.l + n.r) - 2.0f * n.c;
  if (x == cols - 1) ixx = n.l - n.c;
  if (x == 0) ixx = n.r - n.c;
  float iyy = (n.u + n.d) - 2.0f * n.c;
  if (y == 0) iyy = n.d - n.c;
  if (y == rows - 1) iyy = n.u - n.c;
  float ixy = 0.5f * (xDiff(fx, static_cast<float>(y + 1u)) - xDiff(fx, static_cast<float>(y - 1u)));
  if (y == 0) ixy = 0.5f * (xDiff(fx, 1.0f) - xDiff(fx, 0.0f));
  if (y == rows - 1) ixy = 0.5f * (xDiff(fx, fy) - xDiff(fx, static_cast<float>(y - 1u)));
  const float ix = xDiff(fx, fy), iy = yDiff(fx, fy);
  const float l = grad2 == 0.0f ? 0.0f : ix * (ix * ixx) + 2.0f * ixy * ix * iy + iy * (iy * iyy);
  const float s = l != 0.0f ? l / fabsf(l) : 0.0f;
  return n.c - dt * (invH * (grad * s));
}

}  // namespace velmora::gpu::estimate
