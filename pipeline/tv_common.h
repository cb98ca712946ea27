// Pieces shared by the two total-variation solvers.
#pragma once

#include <fftw3.h>

#include <cstddef>

#include "pipeline/spectral.h"

namespace velmora {

// |Fh|^2 + |Fv|^2 of the forward differences [1, -1] and [1; -1].
void DifferenceEnergySpectrum(fftwf_complex* out, int H, int W);

// Work arrays of one half-quadratic pass, allocated once per solve.
struct TVWorkspace {
  explicit TVWorkspace(int H, int W);
  int H, W;
  FloatArray wx, wy, div;
  ComplexArray spectrum;  // half spectrum, H x HalfCols(W)
};

// One pass: soft-thresholds the gradients of I, solves
// FI = (beta FD + nomin) / (denom1 + beta denom2) and writes the new I.
// nomin, denom1 and denom2 are full H x W spectra; only their half
// j <= W / 2 is read, the rest follows by conjugate symmetry.
void HalfQuadraticPass(float* I, float threshold, float beta, const fftwf_complex* nomin,
                       const fftwf_complex* denom1, const fftwf_complex* denom2,
                       TVWorkspace& work);

bool KernelSidesOdd(int kernelRows, int kernelCols);

}  // namespace velmora
