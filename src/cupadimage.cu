#include "src/cupadimage.h"

#include <vector>

#include "src/cupadimage.cuh"
#include "src/gpu_runtime.cuh"
#include "src/gpu_spectrum.cuh"

namespace velmora::gpu {

namespace {

constexpr const char* kModule = "src/cupadimage.cu";

__global__ void d_computeDerrs(const Float2* d_Gx, const Float2* d_Gy, Float2* d_FreqDerrs,
                               unsigned iW, unsigned iH) {
  Element e;
  size_t i;
  if (!ThisElementOf(iW, iH, &e, &i)) return;
  d_FreqDerrs[i] = pad::ComputeDerrs(d_Gx[i], d_Gy[i]);
}

__global__ void d_computeWt(const Float2* d_Gx, const Float2* d_Gy, const Float2* d_tmpimg,
                            Float2* d_FreqWt, const Float2* d_FreqDerrs, unsigned iW, unsigned iH) {
  Element e;
  size_t i;
  if (!ThisElementOf(iW, iH, &e, &i)) return;
  d_FreqWt[i] = pad::ComputeWt(d_Gx[i], d_Gy[i], d_tmpimg[i], d_FreqDerrs[i].x);
}

__global__ void d_computeF2(const Float2* d_FreqF, Float2* d_FreqF2, unsigned iW, unsigned iH) {
  Element e;
  size_t i;
  if (!ThisElementOf(iW, iH, &e, &i)) return;
  d_FreqF2[i] = pad::ComputeF2(d_FreqF[i]);
}

__global__ void d_computeFreqI(Float2* d_dinout, const Float2* d_FreqB, const Float2* d_FreqF,
                               const Float2* d_FreqF2, const Float2* d_FreqWt,
                               const Float2* d_FreqDerrs, float wt_ireg, float wt_breg, unsigned iW,
                               unsigned iH) {
  Element e;
  size_t i;
  if (!ThisElementOf(iW, iH, &e, &i)) return;
  d_dinout[i] = pad::ComputeFreqI(d_FreqB[i], d_FreqF[i], d_FreqF2[i].x, d_FreqWt[i].x,
                                  d_FreqDerrs[i].x, wt_ireg, wt_breg);
}

__global__ void d_computeOut(float* d_dinout, const Float2* d_iFreqI, float NORMAL_FACTOR,
                             unsigned iW, unsigned iH) {
  Element e;
  size_t i;
  if (!ThisElementOf(iW, iH, &e, &i)) return;
  d_dinout[i] = pad::ComputeOut(d_iFreqI[i], NORMAL_FACTOR);
}

// The difference filters of the padding weights, row-major taps.
constexpr float kDx[] = {1, -1, 0};
constexpr float kDxx[] = {1, -2, 1, 0, 0};
constexpr float kDxy[] = {1, -1, 0, -1, 1, 0, 0, 0, 0};

}  // namespace

void BuildPaddingSpectraGpu(const float* kernel, int cols, int rows, int kernelCols, int kernelRows,
                            Float2* FreqF, Float2* FreqF2, Float2* FreqWt, Float2* FreqDerrs,
                            int* rowsOut, int* colsOut) {
  *rowsOut = rows;
  *colsOut = cols;
  const size_t n = static_cast<size_t>(rows) * cols;
  auto gx = VELMORA_DEVICE_BUFFER(Float2, n);
  auto gy = VELMORA_DEVICE_BUFFER(Float2, n);
  auto derrs = VELMORA_DEVICE_BUFFER(Float2, n);
  auto wt = VELMORA_DEVICE_BUFFER(Float2, n);
  auto f = VELMORA_DEVICE_BUFFER(Float2, n);
  auto f2 = VELMORA_DEVICE_BUFFER(Float2, n);
  {
    KernelToSpectrumGpu(kDx, gx.get(), rows, cols, 1, 3, kModule, __LINE__);
    KernelToSpectrumGpu(kDx, gy.get(), rows, cols, 3, 1, kModule, __LINE__);
    VELMORA_LAUNCH(d_computeDerrs, rows, cols, gx.get(), gy.get(), derrs.get(), cols, rows);
    auto gxy = VELMORA_DEVICE_BUFFER(Float2, n);
    KernelToSpectrumGpu(kDxx, gx.get(), rows, cols, 1, 5, kModule, __LINE__);
    KernelToSpectrumGpu(kDxx, gy.get(), rows, cols, 5, 1, kModule, __LINE__);
    KernelToSpectrumGpu(kDxy, gxy.get(), rows, cols, 3, 3, kModule, __LINE__);
    VELMORA_LAUNCH(d_computeWt, rows, cols, gx.get(), gy.get(), gxy.get(), wt.get(), derrs.get(),
                   cols, rows);
  }
  gx.reset();
  gy.reset();
  KernelToSpectrumGpu(kernel, f.get(), rows, cols, kernelRows, kernelCols, kModule, __LINE__);
  VELMORA_LAUNCH(d_computeF2, rows, cols, f.get(), f2.get(), cols, rows);
  CopyToHost(FreqF, f.get(), n, kModule, __LINE__);
  CopyToHost(FreqF2, f2.get(), n, kModule, __LINE__);
  CopyToHost(FreqWt, wt.get(), n, kModule, __LINE__);
  CopyToHost(FreqDerrs, derrs.get(), n, kModule, __LINE__);
}

void RefinePaddingGpu(float* plane, int cols, int rows, float wt_ireg, float wt_breg,
                      const Float2* FreqF, const Float2* FreqF2, const Float2* FreqWt,
                      const Float2* FreqDerrs) {
  const size_t n = static_cast<size_t>(rows) * cols;
  auto inout = VELMORA_DEVICE_BUFFER(Float2, n);
  auto b = VELMORA_DEVICE_BUFFER(Float2, n);
  auto f = VELMORA_DEVICE_BUFFER(Float2, n);
  auto f2 = VELMORA_DEVICE_BUFFER(Float2, n);
  auto wt = VELMORA_DEVICE_BUFFER(Float2, n);
  auto derrs = VELMORA_DEVICE_BUFFER(Float2, n);
  CopyToDevice(f.get(), FreqF, n, kModule, __LINE__);
  CopyToDevice(f2.get(), FreqF2, n, kModule, __LINE__);
  CopyToDevice(wt.get(), FreqWt, n, kModule, __LINE__);
  CopyToDevice(derrs.get(), FreqDerrs, n, kModule, __LINE__);
  {
    std::vector<Float2> staged(n);
    RealToComplex(plane, n, staged.data());
    CopyToDevice(inout.get(), staged.data(), n, kModule, __LINE__);
  }
  const FftPlan plan = VELMORA_FFT_PLAN(rows, cols);
  plan.Execute(inout.get(), b.get(), kForward, __LINE__);
  VELMORA_LAUNCH(d_computeFreqI, rows, cols, inout.get(), b.get(), f.get(), f2.get(), wt.get(),
                 derrs.get(), wt_ireg, wt_breg, cols, rows);
  plan.Execute(inout.get(), b.get(), kInverse, __LINE__);
  float* out = reinterpret_cast<float*>(inout.get());
  const float normal = 1.0f / static_cast<float>(n);
  VELMORA_LAUNCH(d_computeOut, rows, cols, out, b.get(), normal, cols, rows);
  CopyToHost(plane, out, n, kModule, __LINE__);
}

}  // namespace velmora::gpu
