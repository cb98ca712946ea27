#include "src/cuestimatekernel.h"

#include <algorithm>
#include <vector>

#include "src/cuestimatekernel.cuh"
#include "src/gpu_host.h"
#include "src/gpu_runtime.cuh"
#include "src/gpu_spectrum.cuh"

namespace velmora::gpu {

namespace {

constexpr const char* kModule = "src/cuestimatekernel.cu";

__global__ void d_computeIpad(Float2* d_Ixpad, const Float2* d_IxFre, const Float2* d_IyFre,
                              const Float2* d_BxFre, const Float2* d_ByFre, float wt_kreg,
                              unsigned iW, unsigned iH) {
  Element e;
  size_t i;
  if (!ThisElementOf(iW, iH, &e, &i)) return;
  d_Ixpad[i] = estimate::ComputeIpad(d_IxFre[i], d_IyFre[i], d_BxFre[i], d_ByFre[i], wt_kreg);
}

__global__ void d_computeI(Float2* d_I, const Float2* d_F, const float* d_FreqWt,
                           const float* d_FreqDerrs, const Float2* d_FreqB, float wt_ireg,
                           unsigned iW, unsigned iH) {
  Element e;
  size_t i;
  if (!ThisElementOf(iW, iH, &e, &i)) return;
  d_I[i] = estimate::ComputeI(d_F[i], d_FreqWt[i], d_FreqDerrs[i], d_FreqB[i], wt_ireg);
}

__global__ void d_computeOrshockS1(float* d_grad, float* d_grad2, float* d_Ix, float* d_Iy,
                                   Texture2d<float> tex, unsigned iW, unsigned iH) {
  Element e;
  size_t i;
  if (!ThisElementOf(iW, iH, &e, &i)) return;
  const estimate::ShockSlopes s = estimate::ComputeOrshockS1(tex, e.x, e.y, iH, iW);
  d_grad[i] = s.grad;
  d_grad2[i] = s.grad2;
  d_Ix[i] = s.ix;
  d_Iy[i] = s.iy;
}

__global__ void d_computeOrshockS2(float* d_output, const float* d_grad, const float* d_grad2,
                                   Texture2d<float> tex, Texture2d<float> xtex,
                                   Texture2d<float> ytex, float dt, float h, unsigned iW,
                                   unsigned iH) {
  Element e;
  size_t i;
  if (!ThisElementOf(iW, iH, &e, &i)) return;
  d_output[i] =
      estimate::ComputeOrshockS2(tex, xtex, ytex, d_grad[i], d_grad2[i], dt, h, e.x, e.y, iH, iW);
}

// The gradients' spectra on the padded grid, forward-transformed into fx
// and fy (padRows x padCols each, the caller's device buffers).
void GradientSpectra(const float* gradX, const float* gradY, const GpuLevelSpectra& s, int rows,
                     int cols, Float2* fx, Float2* fy) {
  const size_t m = static_cast<size_t>(s.padRows) * s.padCols;
  std::vector<Float2> gridX(m), gridY(m);
  PlaceInPaddedComplexGrid(gradX, rows, cols, s.padRows, s.padCols, s.padTop, s.padLeft,
                           gridX.data());
  PlaceInPaddedComplexGrid(gradY, rows, cols, s.padRows, s.padCols, s.padTop, s.padLeft,
                           gridY.data());
  auto stagedX = VELMORA_DEVICE_BUFFER(Float2, m);
  auto stagedY = VELMORA_DEVICE_BUFFER(Float2, m);
  CopyToDevice(stagedX.get(), gridX.data(), m, kModule, __LINE__);
  CopyToDevice(stagedY.get(), gridY.data(), m, kModule, __LINE__);
  const FftPlan plan = VELMORA_FFT_PLAN(s.padRows, s.padCols);
  plan.Execute(stagedY.get(), fy, kForward, __LINE__);
  plan.Execute(stagedX.get(), fx, kForward, __LINE__);
}

// The latent image's spectrum for kernel V (rows x cols device values,
// the caller's): every input buffer lives only as long as this step.
void LatentSpectrum(const float* V, const GpuLevelSpectra& s, int rows, int cols, int kernelRows,
                    int kernelCols, float wt_ireg, Float2* spectrum) {
  const size_t n = static_cast<size_t>(rows) * cols;
  auto f = VELMORA_DEVICE_BUFFER(Float2, n);
  KernelToSpectrumGpu(V, f.get(), rows, cols, kernelRows, kernelCols, kModule, __LINE__);
  auto wt = VELMORA_DEVICE_BUFFER(float, n);
  auto derrs = VELMORA_DEVICE_BUFFER(float, n);
  auto b = VELMORA_DEVICE_BUFFER(Float2, n);
  CopyToDevice(wt.get(), s.FreqWt, n, kModule, __LINE__);
  CopyToDevice(derrs.get(), s.FreqDerrs, n, kModule, __LINE__);
  CopyToDevice(b.get(), s.FreqB, n, kModule, __LINE__);
  VELMORA_LAUNCH(d_computeI, rows, cols, spectrum, f.get(), wt.get(), derrs.get(), b.get(), wt_ireg,
                 cols, rows);
}

}  // namespace

void EstimateKernelFFTGpu(const float* gradX, const float* gradY, const GpuLevelSpectra& s,
                          int rows, int cols, int kernelRows, int kernelCols, float* V,
                          float wt_kreg) {
  const size_t m = static_cast<size_t>(s.padRows) * s.padCols;
  auto fx = VELMORA_DEVICE_BUFFER(Float2, m);
  auto fy = VELMORA_DEVICE_BUFFER(Float2, m);
  GradientSpectra(gradX, gradY, s, rows, cols, fx.get(), fy.get());
  auto bx = VELMORA_DEVICE_BUFFER(Float2, m);
  auto by = VELMORA_DEVICE_BUFFER(Float2, m);
  CopyToDevice(bx.get(), s.BxFre, m, kModule, __LINE__);
  CopyToDevice(by.get(), s.ByFre, m, kModule, __LINE__);
  // Each frequency reads only its own input: the solution overwrites the
  // x gradient's spectrum in place.
  VELMORA_LAUNCH(d_computeIpad, s.padRows, s.padCols, fx.get(), fx.get(), fy.get(), bx.get(),
                 by.get(), wt_kreg, s.padCols, s.padRows);
  fy.reset();
  bx.reset();
  by.reset();
  KernelFromSpectrumGpu(fx.get(), V, s.padRows, s.padCols, kernelRows, kernelCols, kModule,
                        __LINE__);
}

bool UpdateLatentImageGpu(const float* V, float* O, const GpuLevelSpectra& s, int rows, int cols,
                          int kernelRows, int kernelCols, float wt_ireg, bool checkFlag) {
  const size_t n = static_cast<size_t>(rows) * cols;
  std::vector<Float2> inverse(n);
  {
    auto spectrum = VELMORA_DEVICE_BUFFER(Float2, n);
    LatentSpectrum(V, s, rows, cols, kernelRows, kernelCols, wt_ireg, spectrum.get());
    auto spatial = VELMORA_DEVICE_BUFFER(Float2, n);
    {
      const FftPlan plan = VELMORA_FFT_PLAN(rows, cols);
      plan.Execute(spectrum.get(), spatial.get(), kInverse, __LINE__);
    }
    spectrum.reset();
    CopyToHost(inverse.data(), spatial.get(), n, kModule, __LINE__);
  }
  const ClipCounts counts =
      ApplyLatentClipRule(inverse.data(), 1.0f / static_cast<float>(n), n, O);
  return !(checkFlag && TooManyClipped(counts));
}

void ShockFilterGpu(const float* input, float* output, int width, int height, int iterations,
                    float dt, float h) {
  const size_t n = static_cast<size_t>(width) * height;
  if (iterations < 1 || width < 2 || height < 2) {
    std::copy_n(input, n, output);
    return;
  }
  auto image = VELMORA_TEXTURE_2D(float, width, height);
  auto xDiff = VELMORA_TEXTURE_2D(float, width, height);
  auto yDiff = VELMORA_TEXTURE_2D(float, width, height);
  image.Fill(input, cudaMemcpyHostToDevice, kModule, __LINE__);
  auto out = VELMORA_DEVICE_BUFFER(float, n);
  auto grad = VELMORA_DEVICE_BUFFER(float, n);
  auto grad2 = VELMORA_DEVICE_BUFFER(float, n);
  auto ix = VELMORA_DEVICE_BUFFER(float, n);
  auto iy = VELMORA_DEVICE_BUFFER(float, n);
  const Texture2d<float> tex{image.texture()}, xtex{xDiff.texture()}, ytex{yDiff.texture()};
  const float invH = 1.0f / h;
  for (int it = 0; it < iterations; ++it) {
    VELMORA_LAUNCH(d_computeOrshockS1, height, width, grad.get(), grad2.get(), ix.get(), iy.get(),
                   tex, width, height);
    // The second pass reads the cross derivative from neighbouring rows of
    // Ix: through a texture, never from the buffer being written.
    xDiff.Fill(ix.get(), cudaMemcpyDeviceToDevice, kModule, __LINE__);
    yDiff.Fill(iy.get(), cudaMemcpyDeviceToDevice, kModule, __LINE__);
    VELMORA_LAUNCH(d_computeOrshockS2, height, width, out.get(), grad.get(), grad2.get(), tex, xtex,
                   ytex, dt, invH, width, height);
    if (it + 1 < iterations) image.Fill(out.get(), cudaMemcpyDeviceToDevice, kModule, __LINE__);
  }
  CopyToHost(output, out.get(), n, kModule, __LINE__);
}

}  // namespace velmora::gpu
