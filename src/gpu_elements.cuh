// What every device kernel's per-element code is written with: vector types,
// the host/device qualifier and the texture reads. The same functions compile
// on the host (plain C++, no CUDA headers), where the tests run them over
// whole grids, with texture reads emulated by HostTexture.
#pragma once

// With the toolkit every translation unit uses its vector types, so that the
// host routines of the device modules have one signature for nvcc and the
// host compiler; without it plain structs of the same layout stand in.
#if defined(__CUDACC__) || defined(VELMORA_HAVE_CUDA)
#include <vector_types.h>
namespace velmora::gpu {
using Float2 = ::float2;
using Float4 = ::float4;
}  // namespace velmora::gpu
#else
namespace velmora::gpu {
struct alignas(8) Float2 {
  float x, y;
};
struct alignas(16) Float4 {
  float x, y, z, w;
};
}  // namespace velmora::gpu
#endif

#if defined(__CUDACC__)
#define VELMORA_HD __host__ __device__ __forceinline__
#else
#define VELMORA_HD inline
#endif

#include <cstddef>

namespace velmora::gpu {

VELMORA_HD Float2 MakeFloat2(float x, float y) {
  Float2 r;
  r.x = x;
  r.y = y;
  return r;
}

VELMORA_HD Float4 MakeFloat4(float x, float y, float z, float w) {
  Float4 r;
  r.x = x;
  r.y = y;
  r.z = z;
  r.w = w;
  return r;
}

// Colour channel k (0, 1, 2, 3) of a pixel.
VELMORA_HD float Channel(const Float4& p, int k) {
  return k == 0 ? p.x : k == 1 ? p.y : k == 2 ? p.z : p.w;
}

VELMORA_HD void SetChannel(Float4* p, int k, float v) {
  if (k == 0) p->x = v;
  else if (k == 1) p->y = v;
  else if (k == 2) p->z = v;
  else p->w = v;
}

// Soft thresholding: the difference shrunk towards 0 by thre, 0 when its
// magnitude does not exceed thre. d / |d| is formed as the kernels do, so a
// difference of 0 is never divided.
VELMORA_HD float Shrink(float d, float thre) {
  const float magnitude = d < 0.0f ? -d : d;
  const float excess = magnitude - thre;
  return excess <= 0.0f ? 0.0f : excess * d / magnitude;
}

// Index of the texel that a point-sampled, clamp-addressed texture with
// unnormalised coordinates returns for coordinate c: coordinates past an
// edge read the edge texel (a coordinate formed as x - 1 in unsigned
// arithmetic at x = 0 is huge and reads the last texel).
inline unsigned ClampedTexel(float c, unsigned n) {
  if (!(c >= 0.0f)) return 0;
  if (c >= static_cast<float>(n)) return n - 1;
  return static_cast<unsigned>(c);
}

// A host stand-in for a 2-D (or, with planes, 3-D) texture over a row-major
// array of rows x cols elements per plane. The caller owns data.
template <typename T>
struct HostTexture {
  const T* data;
  unsigned rows, cols;
  T operator()(float x, float y, float plane = 0.0f) const {
    const size_t p = static_cast<size_t>(plane);
    return data[(p * rows + ClampedTexel(y, rows)) * static_cast<size_t>(cols) +
                ClampedTexel(x, cols)];
  }
};

}  // namespace velmora::gpu
