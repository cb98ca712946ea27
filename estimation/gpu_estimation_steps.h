// The kernel solve and the latent update of one pyramid level on the GPU.
// The level keeps half spectra, the device transforms take whole ones: they
// are expanded once when the level starts, not at every iteration.
#pragma once

#include <vector>

#include "src/cuestimatekernel.h"

namespace velmora {

struct LevelSpectra;

class GpuLevelSteps {
 public:
  // Copies what the solvers read of spectra (a rows x cols level); spectra
  // may be released afterwards.
  GpuLevelSteps(const LevelSpectra& spectra, int rows, int cols);
  GpuLevelSteps(const GpuLevelSteps&) = delete;
  GpuLevelSteps& operator=(const GpuLevelSteps&) = delete;

  // EstimateKernelFFT and UpdateLatentImage with this level's spectra,
  // computed on the device. The latent update clips overshoots one-sidedly
  // also without check, where the CPU clamps to [0, 1].
  void EstimateKernelFFT(const float* gradX, const float* gradY, int kernelRows, int kernelCols,
                         float* kernel, float wtKreg) const;
  bool UpdateLatentImage(const float* kernel, float* latent, int kernelRows, int kernelCols,
                         float wtIreg, bool check) const;

  // The whole spectra, for inspection.
  const gpu::GpuLevelSpectra& spectra() const { return view_; }

 private:
  int rows_, cols_;
  std::vector<gpu::Float2> bx_, by_, freqB_;  // owned here; view_ points into them
  std::vector<float> wt_, derrs_;
  gpu::GpuLevelSpectra view_;
};

}  // namespace velmora
