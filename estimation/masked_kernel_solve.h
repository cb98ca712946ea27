// The kernel step of the sharp estimator: the kernel k minimising
//   sum over d in {h, v} of ||M (dx_d * k - dy_d)||^2 + weight ||k||^2
// over the kernel's support, where dx_d and dy_d are forward differences of
// the latent and the blurred picture and the mask M keeps only the blurred
// pixels whose whole kernel footprint lies inside the picture: the picture's
// borders, where the blur reached pixels outside it, tell nothing true.
//
// Solved by conjugate gradients on the normal equations, warm-started from
// the previous kernel. For kernels up to kDenseGramLimit taps the normal
// matrix is built exactly, once per step, from the gradients'
// autocorrelation minus what the mask leaves out along the borders, and the
// steps cost a small matrix product; larger kernels apply the operator by
// Fourier transforms at every step.
#pragma once

#include <vector>

#include "pipeline/spectral.h"

namespace velmora {

inline constexpr int kDenseGramLimit = 51 * 51;

class MaskedKernelProblem {
 public:
  // blurred: rows x cols, read here only. Kernel sides odd, rows > kernelRows
  // and cols > kernelCols.
  MaskedKernelProblem(const float* blurred, int rows, int cols, int kernelRows, int kernelCols);

  // latent: the latent picture, rows x cols at the top-left of a plane with
  // rows of latentStride floats. kernel (kernelRows x kernelCols) holds the
  // warm start and receives the raw solution (not normalised, may be
  // negative). dense = false forces the Fourier operator. tapWeights
  // (kernelRows x kernelCols, or null for all 1) scale the weight tap by
  // tap: a reweighted prior makes it sparse.
  void Solve(const float* latent, int latentStride, float weight, int steps, float* kernel,
             bool dense = true, const float* tapWeights = nullptr);

  // Only the strongest share of the latent picture's gradients (by
  // magnitude) take part from the next Solve on; 1 keeps them all.
  void KeepStrongestGradients(float share) { gradientShare_ = share; }

  // For tests: the normal matrix (taps x taps, row-major, without the
  // weight) and the right-hand side of the last Solve with dense = true.
  const std::vector<float>& Gram() const { return gram_; }
  const std::vector<float>& RightHandSide() const { return rhs_; }

  // Pixels per direction the mask keeps.
  double MaskedPixels() const {
    return static_cast<double>(rows_ - kr_) * (cols_ - kc_);
  }

  int kernelRows() const { return kr_; }
  int kernelCols() const { return kc_; }

 private:
  void LatentGradients(const float* latent, int latentStride);
  void BuildGram();
  void ApplyFourierOperator(const float* k, float* out, float weight, const float* tapWeights);

  int rows_, cols_, kr_, kc_;
  int hd_, wd_;  // the gradients' plane: one row and one column less
  int gridRows_, gridCols_;
  ComplexArray maskedTarget_[2];  // half spectra of M dy_h and M dy_v
  FloatArray gradient_[2];        // dx_h, dx_v on the zeroed grid
  ComplexArray gradientSpectrum_[2];
  ComplexArray spectrum_;         // scratch half spectrum
  FloatArray plane_;              // scratch grid plane
  std::vector<float> gram_, rhs_;
  float gradientShare_ = 1.0f;
};

// Conjugate gradients on (A + weight D) x = b, A symmetric (n x n,
// row-major), D the diagonal of tapWeights (n, or null for I), from the x
// given; at most steps steps.
void DenseConjugateGradient(const float* A, const float* b, int n, float weight, int steps,
                            float* x, const float* tapWeights = nullptr);

}  // namespace velmora
