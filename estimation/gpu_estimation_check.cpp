// The estimation part of the GPU self-check: each GPU step of one level
// against its CPU counterpart, on the same inputs.
#include "estimation/gpu_estimation_check.h"

#include <vector>

#include "estimation/fourier_solvers.h"
#include "estimation/gpu_estimation_steps.h"
#include "estimation/level_spectra.h"
#include "estimation/shock_filter.h"
#include "pipeline/gpu_agreement.h"
#include "src/cuestimatekernel.h"

namespace velmora {

namespace {

constexpr float kShockStep = 0.1f;
constexpr float kKernelRegularisation = 40.0f;
constexpr float kImageRegularisation = 0.002f;

// Forward differences, 0 in the last column and row.
void Gradients(const float* image, int rows, int cols, float* gx, float* gy) {
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const size_t k = GridSize(i, cols) + j;
      gx[k] = j + 1 < cols ? image[k + 1] - image[k] : 0.0f;
      gy[k] = i + 1 < rows ? image[k + cols] - image[k] : 0.0f;
    }
}

}  // namespace

std::vector<std::string> CompareEstimationSteps(const float* picture, int rows, int cols,
                                                const cv::Mat& kernel) {
  const size_t n = GridSize(rows, cols);
  std::vector<float> grey(n);
  for (size_t i = 0; i < n; ++i) grey[i] = (picture[i] + picture[n + i] + picture[2 * n + i]) / 3.0f;
  std::vector<std::string> disagreeing;

  std::vector<float> shocked(n), shockedGpu(n);
  ShockFilter(grey.data(), shocked.data(), cols, rows, 1, kShockStep, 1.0f);
  gpu::ShockFilterGpu(grey.data(), shockedGpu.data(), cols, rows, 1, kShockStep, 1.0f);
  if (RelativeError(shockedGpu.data(), shocked.data(), n) > kEstimationBound)
    disagreeing.push_back("the shock filter");

  LevelSpectra spectra;
  BuildLevelSpectra(grey.data(), kernel.ptr<float>(), cols, rows, kernel.cols, kernel.rows, &spectra);
  const GpuLevelSteps steps(spectra, rows, cols);
  std::vector<float> gx(n), gy(n);
  Gradients(shocked.data(), rows, cols, gx.data(), gy.data());
  const size_t taps = GridSize(kernel.rows, kernel.cols);
  std::vector<float> estimate(taps), estimateGpu(taps);
  EstimateKernelFFT(gx.data(), gy.data(), spectra, rows, cols, kernel.rows, kernel.cols,
                    estimate.data(), kKernelRegularisation);
  steps.EstimateKernelFFT(gx.data(), gy.data(), kernel.rows, kernel.cols, estimateGpu.data(),
                          kKernelRegularisation);
  if (RelativeError(estimateGpu.data(), estimate.data(), taps) > kEstimationBound)
    disagreeing.push_back("the kernel solve");

  std::vector<float> latent = grey, latentGpu = grey;
  UpdateLatentImage(kernel.ptr<float>(), latent.data(), spectra, rows, cols, kernel.rows,
                    kernel.cols, kImageRegularisation, true);
  steps.UpdateLatentImage(kernel.ptr<float>(), latentGpu.data(), kernel.rows, kernel.cols,
                          kImageRegularisation, true);
  if (RelativeError(latentGpu.data(), latent.data(), n) > kEstimationBound)
    disagreeing.push_back("the latent update");
  ReleaseLevelSpectra(&spectra);
  return disagreeing;
}

}  // namespace velmora
