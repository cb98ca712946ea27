#include "estimation/gpu_estimation_steps.h"

#include "estimation/level_spectra.h"
#include "src/gpu_host.h"

namespace velmora {

namespace {

const float* Pairs(const ComplexArray& spectrum) {
  return reinterpret_cast<const float*>(spectrum.get());
}

}  // namespace

GpuLevelSteps::GpuLevelSteps(const LevelSpectra& s, int rows, int cols)
    : rows_(rows),
      cols_(cols),
      bx_(GridSize(s.padRows, s.padCols)),
      by_(bx_.size()),
      freqB_(GridSize(rows, cols)),
      wt_(freqB_.size()),
      derrs_(freqB_.size()) {
  gpu::ExpandHalfSpectrum(Pairs(s.BxFre), s.padRows, s.padCols, bx_.data());
  gpu::ExpandHalfSpectrum(Pairs(s.ByFre), s.padRows, s.padCols, by_.data());
  gpu::ExpandHalfSpectrum(Pairs(s.FreqB), rows, cols, freqB_.data());
  gpu::ExpandHalfReal(s.FreqWt.get(), rows, cols, wt_.data());
  gpu::ExpandHalfReal(s.FreqDerrs.get(), rows, cols, derrs_.data());
  view_.BxFre = bx_.data();
  view_.ByFre = by_.data();
  view_.padRows = s.padRows;
  view_.padCols = s.padCols;
  view_.padTop = s.padTop;
  view_.padLeft = s.padLeft;
  view_.FreqB = freqB_.data();
  view_.FreqWt = wt_.data();
  view_.FreqDerrs = derrs_.data();
}

void GpuLevelSteps::EstimateKernelFFT(const float* gradX, const float* gradY, int kernelRows,
                                      int kernelCols, float* kernel, float wtKreg) const {
  gpu::EstimateKernelFFTGpu(gradX, gradY, view_, rows_, cols_, kernelRows, kernelCols, kernel,
                            wtKreg);
}

bool GpuLevelSteps::UpdateLatentImage(const float* kernel, float* latent, int kernelRows,
                                      int kernelCols, float wtIreg, bool check) const {
  return gpu::UpdateLatentImageGpu(kernel, latent, view_, rows_, cols_, kernelRows, kernelCols,
                                   wtIreg, check);
}

}  // namespace velmora
