// Sharp-edge prediction: from the current latent image, the strong step-like
// gradients that the kernel solve is allowed to see. A scale map (gradient
// coherence over a kernel-sized window) masks out textured areas, and per
// orientation only the strongest gradients survive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pipeline/spectral.h"

namespace velmora {

struct LevelSpectra;

// The parameter block the driver keeps for one level and carries across its
// iterations (the engine's decayed values are copied back after each
// prediction).
struct PredictionParams {
  const float* image = nullptr;  // the latent image, height x width
  int width = 0, height = 0;
  int kernelWidth = 0, kernelHeight = 0;
  int shockIterations = 1;
  float sigma = 2.0f;
  float decay = 0.9f;
  float gradThreshold = -1.0f;     // at most 0: chosen at the next prediction
  float dt = 1.0f;
  float h = 1.0f;
  float scaleThreshold = -100.0f;  // below -10: chosen at the next prediction
};

// The block as every level starts it.
PredictionParams InitialPredictionParams(const float* image, int width, int height,
                                         int kernelWidth, int kernelHeight);

// scaleMap = |box(Bx), box(By)| / (|box(|Bx|), box(|By|)| + 1) with a
// windowRows x windowCols mean filter, borders mirrored without repeating
// the edge sample.
void ComputeScaleMap(const LevelSpectra& spectra, float* scaleMap, int rows, int cols,
                     int windowRows, int windowCols);

// Forward differences of a rows x cols plane, the last column and row
// mirrored without repeating the edge sample (the filter [0, -1, 1] and its
// transpose with that border).
void ForwardGradients(const float* image, float* gx, float* gy, int rows, int cols);

// The k-th largest (k from 1) of values[first .. last], reordering that
// range. An empty range gives 0, a k beyond the count the smallest value and
// a k below 1 the largest. Linear on average however many values are equal.
float SelectKthLargest(float* values, std::ptrdiff_t first, std::ptrdiff_t last,
                       std::ptrdiff_t k);

class CImageMyPredictionEngine {
 public:
  CImageMyPredictionEngine() = default;
  CImageMyPredictionEngine(const CImageMyPredictionEngine&) = delete;
  CImageMyPredictionEngine& operator=(const CImageMyPredictionEngine&) = delete;

  void SetParameters(const PredictionParams& params, const float* scaleMap, float tscale);
  // Scratch planes of at least height x width floats, owned by the caller:
  // two that Predict overwrites and two that receive the gradients in
  // place of its own planes. Without them it allocates its own.
  void SetWorkspace(float* planeA, float* planeB, float* gradXPlane, float* gradYPlane);
  // The gradients of the last prediction, wherever they were written.
  const float* GradX() const { return gradXOut_ ? gradXOut_ : gradX_.get(); }
  const float* GradY() const { return gradYOut_ ? gradYOut_ : gradY_.get(); }
  // Replaces the gradients; decays sigma, dt, scaleThreshold and
  // gradThreshold. Without cpuFlag the shock filter runs on the GPU.
  void Predict(bool cpuFlag);
  // mask (height x width) = 1 where the scale map reaches scaleThreshold,
  // choosing that threshold first when it is still unset.
  void ComputeScaleMask(float* mask);

  // The values after the last prediction, decayed, for the next one.
  float sigma() const { return sigma_; }
  float gradThreshold() const { return gradThreshold_; }
  float dt() const { return dt_; }
  float scaleThreshold() const { return scaleThreshold_; }

 private:
  // scratch: height x width floats.
  float AutomaticGradientThreshold(const float* magnitude, float* scratch);
  float AutomaticScaleThreshold(float* scratch);

  const float* image_ = nullptr;  // not owned
  FloatArray gradX_;
  FloatArray gradY_;
  int width_ = 0, height_ = 0;
  int kernelWidth_ = 0, kernelHeight_ = 0;
  float sigma_ = 0.0f;
  float decay_ = 0.0f;
  float gradThreshold_ = 0.0f;
  float dt_ = 0.0f;
  float h_ = 0.0f;
  int shockIterations_ = 0;
  float scaleThreshold_ = 0.0f;
  const float* scaleMap_ = nullptr;  // not owned
  float tscale_ = 0.0f;

  float* scratchA_ = nullptr;
  float* scratchB_ = nullptr;
  float* gradXOut_ = nullptr;
  float* gradYOut_ = nullptr;
  std::vector<uint8_t> bins_;
};

}  // namespace velmora
