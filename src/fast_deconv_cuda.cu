#include "src/fast_deconv_cuda.h"

#include <vector>

#include "src/fast_deconv_cuda.cuh"
#include "src/gpu_host.h"
#include "src/gpu_runtime.cuh"
#include "src/gpu_spectrum.cuh"

namespace velmora::gpu {

namespace {

constexpr const char* kModule = "src/fast_deconv_cuda.cu";

// --- Device kernels -------------------------------------------------------

__global__ void d_compute_nomin1(Float2* d_B, const Float2* d_otf, unsigned dataW, unsigned dataH) {
  Element e;
  size_t i;
  if (ThisElementOf(dataW, dataH, &e, &i)) d_B[i] = deconv::ComputeNomin1(d_B[i], d_otf[i]);
}

__global__ void d_compute_denom1(const Float2* d_otf, float* d_denom1, unsigned dataW,
                                 unsigned dataH) {
  Element e;
  size_t i;
  if (ThisElementOf(dataW, dataH, &e, &i)) d_denom1[i] = deconv::ComputeDenom1(d_otf[i]);
}

__global__ void d_regular_denom1(float* d_denom1, float min_val, unsigned dataW, unsigned dataH) {
  Element e;
  size_t i;
  if (ThisElementOf(dataW, dataH, &e, &i)) d_denom1[i] = deconv::RegularDenom1(d_denom1[i], min_val);
}

__global__ void d_compute_denom2(float* g, Texture1d<Float2> gxTex, Texture1d<Float2> gyTex,
                                 unsigned dataW, unsigned dataH) {
  Element e;
  size_t i;
  if (ThisElementOf(dataW, dataH, &e, &i))
    g[i] = deconv::ComputeDenom2(gxTex(static_cast<float>(e.x)), gyTex(static_cast<float>(e.y)));
}

__global__ void d_updateS(Float4* d_s, const Float2* n0, const Float2* n1, const Float2* n2,
                          unsigned dataW, unsigned dataH, float NORMAL_FACTOR) {
  Element e;
  size_t i;
  if (ThisElementOf(dataW, dataH, &e, &i)) d_s[i] = deconv::UpdateS(n0[i], n1[i], n2[i], NORMAL_FACTOR);
}

__global__ void d_updateHV(Float4* d_h, Float4* d_v, Texture2d<Float4> sTex, unsigned dataW,
                           unsigned dataH, float thre) {
  Element e;
  size_t i;
  if (!ThisElementOf(dataW, dataH, &e, &i)) return;
  Float4 h, v;
  deconv::UpdateHV(sTex, e.x, e.y, dataW, dataH, thre, &h, &v);
  d_h[i] = h;
  d_v[i] = v;
}

__global__ void d_updateN(Float2* n0, Float2* n1, Float2* n2, Texture2d<Float4> hTex,
                          Texture2d<Float4> vTex, unsigned dataW, unsigned dataH) {
  Element e;
  size_t i;
  if (ThisElementOf(dataW, dataH, &e, &i)) deconv::UpdateN(hTex, vTex, e.x, e.y, dataW, dataH, n0 + i, n1 + i, n2 + i);
}

__global__ void d_updateFS(Float2* FS, Texture2d<float> denom1Tex, Texture2d<float> denom2Tex,
                           Texture3d<Float2> nomin1Tex, unsigned dataW, unsigned dataH, int c,
                           float beta) {
  Element e;
  size_t i;
  if (!ThisElementOf(dataW, dataH, &e, &i)) return;
  const float x = static_cast<float>(e.x), y = static_cast<float>(e.y);
  FS[i] = deconv::UpdateFS(FS[i], denom1Tex(x, y), denom2Tex(x, y),
                           nomin1Tex(x, y, static_cast<float>(c)), beta);
}

__global__ void d_updateFI(Float2* FS, const Float2* d_otf, Texture3d<Float2> nomin1Tex,
                           unsigned dataW, unsigned dataH, int c) {
  Element e;
  size_t i;
  if (!ThisElementOf(dataW, dataH, &e, &i)) return;
  const Float2 m = nomin1Tex(static_cast<float>(e.x), static_cast<float>(e.y), static_cast<float>(c));
  FS[i] = deconv::UpdateFI(m, d_otf[i]);
}

__global__ void d_updateV(Float2* V, Texture2d<Float4> oTex, unsigned dataW, unsigned dataH, int c,
                          float NORMAL_FACTOR, float thre) {
  Element e;
  size_t i;
  if (!ThisElementOf(dataW, dataH, &e, &i)) return;
  const Float4 o = oTex(static_cast<float>(e.x), static_cast<float>(e.y));
  V[i] = deconv::UpdateV(V[i].x, Channel(o, c), NORMAL_FACTOR, thre);
}

// --- Solver state -----------------------------------------------------------

// Everything one solve keeps on the device; the holders free it on every
// way out, so a fault in the middle of a solve leaks nothing.
struct DeconvState {
  unsigned W = 0, H = 0;
  size_t N = 0;
  TextureArray<Float2> gx, gy;        // gxTex, gyTex
  TextureArray<float> denom1, denom2; // denom1Tex, denom2Tex
  TextureArray<Float2> nomin1;        // nomin1Tex, one plane per channel
  TextureArray<Float4> estimate;      // sTex
  TextureArray<Float4> hField, vField;
  TextureArray<Float4> observed;      // oTex, noise-robust solve only
  DeviceBuffer<Float4> result;        // newest estimate, from the first step on
  DeviceBuffer<Float2> transfer;      // K, noise-robust solve only
  DeviceBuffer<Float2> spectra;       // 3 N, noise-robust solve only

  DeconvState(int rows, int cols)
      : W(cols), H(rows), N(static_cast<size_t>(rows) * cols) {}
  Float2* Plane(DeviceBuffer<Float2>& b, int c) const { return b.get() + c * N; }
};

// 1-D spectra of the difference filter 1, -1 along x and along y.
void BuildGradientSpectraGpu(DeconvState& s) {
  auto spectrum = [&](unsigned n, TextureArray<Float2>* array) {
    std::vector<Float2> taps(n, MakeFloat2(0.0f, 0.0f));
    taps[0].x = 1.0f;
    if (n > 1) taps[1].x = -1.0f;
    auto in = VELMORA_DEVICE_BUFFER(Float2, n);
    auto out = VELMORA_DEVICE_BUFFER(Float2, n);
    CopyToDevice(in.get(), taps.data(), n, kModule, __LINE__);
    const FftPlan plan = VELMORA_FFT_PLAN(0, static_cast<int>(n));
    plan.Execute(in.get(), out.get(), kForward, __LINE__);
    *array = VELMORA_TEXTURE_1D(Float2, n);
    array->Fill(out.get(), cudaMemcpyDeviceToDevice, kModule, __LINE__);
  };
  spectrum(s.W, &s.gx);
  spectrum(s.H, &s.gy);
}

// Forward transforms of the three colour planes of pixels into Y (3 N).
void TransformPlanesGpu(const DeconvState& s, const float* pixels, DeviceBuffer<Float2>& Y) {
  const FftPlan plan = VELMORA_FFT_PLAN(static_cast<int>(s.H), static_cast<int>(s.W));
  std::vector<Float2> staged(s.N);
  auto upload = VELMORA_DEVICE_BUFFER(Float2, s.N);
  for (int c = 0; c < 3; ++c) {
    for (size_t i = 0; i < s.N; ++i) staged[i] = MakeFloat2(pixels[4 * i + c], 0.0f);
    CopyToDevice(upload.get(), staged.data(), s.N, kModule, __LINE__);
    plan.Execute(upload.get(), s.Plane(Y, c), kForward, __LINE__);
  }
}

// |K|^2 with its zeros replaced by its smallest positive value, and
// |Gx|^2 + |Gy|^2, into their texture arrays.
void BuildDenominatorsGpu(DeconvState& s, const DeviceBuffer<Float2>& K) {
  auto d1 = VELMORA_DEVICE_BUFFER(float, s.N);
  VELMORA_LAUNCH(d_compute_denom1, s.H, s.W, K.get(), d1.get(), s.W, s.H);
  {
    std::vector<float> host(s.N);
    CopyToHost(host.data(), d1.get(), s.N, kModule, __LINE__);
    const float smallest = SmallestPositive(host.data(), s.N);
    VELMORA_LAUNCH(d_regular_denom1, s.H, s.W, d1.get(), smallest, s.W, s.H);
  }
  auto d2 = VELMORA_DEVICE_BUFFER(float, s.N);
  VELMORA_LAUNCH(d_compute_denom2, s.H, s.W, d2.get(), Texture1d<Float2>{s.gx.texture()},
                 Texture1d<Float2>{s.gy.texture()}, s.W, s.H);
  s.denom2 = VELMORA_TEXTURE_2D(float, s.W, s.H);
  s.denom2.Fill(d2.get(), cudaMemcpyDeviceToDevice, kModule, __LINE__);
  s.denom1 = VELMORA_TEXTURE_2D(float, s.W, s.H);
  s.denom1.Fill(d1.get(), cudaMemcpyDeviceToDevice, kModule, __LINE__);
}

void PublishNumeratorGpu(DeconvState& s, const DeviceBuffer<Float2>& Y) {
  if (!s.nomin1) s.nomin1 = VELMORA_TEXTURE_3D(Float2, s.W, s.H, 3);
  s.nomin1.FillPlanes(Y.get(), cudaMemcpyDeviceToDevice, kModule, __LINE__);
}

void SetupGpu(DeconvState& s, const float* pixels, const float* kernel, int kernelRows,
              int kernelCols, bool robust) {
  BuildGradientSpectraGpu(s);
  auto K = VELMORA_DEVICE_BUFFER(Float2, s.N);
  KernelToSpectrumGpu(kernel, K.get(), s.H, s.W, kernelRows, kernelCols, kModule, __LINE__);
  auto Y = VELMORA_DEVICE_BUFFER(Float2, 3 * s.N);
  TransformPlanesGpu(s, pixels, Y);
  if (!robust)
    for (int c = 0; c < 3; ++c)
      VELMORA_LAUNCH(d_compute_nomin1, s.H, s.W, s.Plane(Y, c), K.get(), s.W, s.H);
  BuildDenominatorsGpu(s, K);
  if (robust) s.transfer = std::move(K);
  PublishNumeratorGpu(s, Y);
}

void UploadImageGpu(DeconvState& s, const float* pixels, bool robust) {
  const Float4* host = reinterpret_cast<const Float4*>(pixels);
  s.estimate = VELMORA_TEXTURE_2D(Float4, s.W, s.H);
  s.estimate.Fill(host, cudaMemcpyHostToDevice, kModule, __LINE__);
  if (robust) {
    s.observed = VELMORA_TEXTURE_2D(Float4, s.W, s.H);
    s.observed.Fill(host, cudaMemcpyHostToDevice, kModule, __LINE__);
  }
  s.hField = VELMORA_TEXTURE_2D(Float4, s.W, s.H);
  s.vField = VELMORA_TEXTURE_2D(Float4, s.W, s.H);
  s.result.reset();
  VELMORA_CHECK_MSG(kInsufficientMemory);
}

// One half-quadratic step for all three channels. planes: where each
// channel's spectrum of the fields is formed (a temporary, or the
// noise-robust solve's spectra buffer, which then holds the new estimate's
// spectra).
void StepGpu(DeconvState& s, float t, float lambda, float beta, DeviceBuffer<Float2>* planes) {
  {
    auto h = VELMORA_DEVICE_BUFFER(Float4, s.N);
    auto v = VELMORA_DEVICE_BUFFER(Float4, s.N);
    VELMORA_CHECK_MSG(kInsufficientMemory);
    const float thre = t * lambda;
    VELMORA_LAUNCH(d_updateHV, s.H, s.W, h.get(), v.get(), Texture2d<Float4>{s.estimate.texture()},
                   s.W, s.H, thre);
    s.hField.Fill(h.get(), cudaMemcpyDeviceToDevice, kModule, __LINE__);
    s.vField.Fill(v.get(), cudaMemcpyDeviceToDevice, kModule, __LINE__);
  }
  auto n = VELMORA_DEVICE_BUFFER(Float2, 3 * s.N);
  VELMORA_LAUNCH(d_updateN, s.H, s.W, s.Plane(n, 0), s.Plane(n, 1), s.Plane(n, 2),
                 Texture2d<Float4>{s.hField.texture()}, Texture2d<Float4>{s.vField.texture()}, s.W,
                 s.H);
  {
    const FftPlan plan = VELMORA_FFT_PLAN(static_cast<int>(s.H), static_cast<int>(s.W));
    DeviceBuffer<Float2> fs;
    if (!planes) fs = VELMORA_DEVICE_BUFFER(Float2, s.N);
    for (int c = 0; c < 3; ++c) {
      Float2* spectrum = planes ? s.Plane(*planes, c) : fs.get();
      plan.Execute(s.Plane(n, c), spectrum, kForward, __LINE__);
      VELMORA_LAUNCH(d_updateFS, s.H, s.W, spectrum, Texture2d<float>{s.denom1.texture()},
                     Texture2d<float>{s.denom2.texture()}, Texture3d<Float2>{s.nomin1.texture()},
                     s.W, s.H, c, beta);
      plan.Execute(spectrum, s.Plane(n, c), kInverse, __LINE__);
    }
  }
  if (!s.result) s.result = VELMORA_DEVICE_BUFFER(Float4, s.N);
  const float normal = 1.0f / static_cast<float>(s.N);
  VELMORA_LAUNCH(d_updateS, s.H, s.W, s.result.get(), s.Plane(n, 0), s.Plane(n, 1), s.Plane(n, 2),
                 s.W, s.H, normal);
  s.estimate.Fill(s.result.get(), cudaMemcpyDeviceToDevice, kModule, __LINE__);
}

// The data step of the noise-robust solve: the numerator array's spectra of
// the estimate are blurred, the residual against the observed image shrunk
// by e, and conj(K) F(v) left in the spectra buffer.
void DataStepTVL1Gpu(DeconvState& s, float e) {
  auto tmp = VELMORA_DEVICE_BUFFER(Float2, s.N);
  if (!s.spectra) s.spectra = VELMORA_DEVICE_BUFFER(Float2, 3 * s.N);
  const FftPlan plan = VELMORA_FFT_PLAN(static_cast<int>(s.H), static_cast<int>(s.W));
  const float normal = 1.0f / static_cast<float>(s.N);
  const Texture3d<Float2> nomin{s.nomin1.texture()};
  for (int c = 0; c < 3; ++c) {
    Float2* y = s.Plane(s.spectra, c);
    VELMORA_LAUNCH(d_updateFI, s.H, s.W, y, s.transfer.get(), nomin, s.W, s.H, c);
    plan.Execute(y, tmp.get(), kInverse, __LINE__);
    VELMORA_LAUNCH(d_updateV, s.H, s.W, tmp.get(), Texture2d<Float4>{s.observed.texture()}, s.W, s.H,
                   c, normal, e);
    plan.Execute(tmp.get(), y, kForward, __LINE__);
    VELMORA_LAUNCH(d_compute_nomin1, s.H, s.W, y, s.transfer.get(), s.W, s.H);
  }
}

void DownloadResultGpu(const DeconvState& s, float* pixels) {
  if (s.result) CopyToHost(reinterpret_cast<Float4*>(pixels), s.result.get(), s.N, kModule, __LINE__);
}

}  // namespace

bool RunTVL2Gpu(float* pixels, int rows, int cols, const float* kernel, int kernelRows,
                int kernelCols, float lambda) {
  DeconvState s(rows, cols);
  SetupGpu(s, pixels, kernel, kernelRows, kernelCols, false);
  UploadImageGpu(s, pixels, false);
  for (float t = 1.0f / lambda; GpuStepContinues(t, lambda); t = t * 0.5f) {
    LaunchCheck();
    StepGpu(s, t, lambda, 1.0f / t, nullptr);
  }
  DownloadResultGpu(s, pixels);
  return true;
}

bool RunTVL1Gpu(float* pixels, int rows, int cols, const float* kernel, int kernelRows,
                int kernelCols, float lambda) {
  DeconvState s(rows, cols);
  SetupGpu(s, pixels, kernel, kernelRows, kernelCols, true);
  UploadImageGpu(s, pixels, true);
  float e = 1.0f;
  do {
    DataStepTVL1Gpu(s, e);
    PublishNumeratorGpu(s, s.spectra);
    for (float t = 1.0f / lambda; GpuStepContinues(t, lambda); t = t * 0.5f) {
      LaunchCheck();
      StepGpu(s, t, lambda, e / t, &s.spectra);
    }
    PublishNumeratorGpu(s, s.spectra);
    e = e / 3.0f;
  } while (!(e < 0.01f));
  DownloadResultGpu(s, pixels);
  return true;
}

}  // namespace velmora::gpu
