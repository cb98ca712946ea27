// Pieces shared by the two total-variation solvers.
//
// Every spectrum here is the half spectrum of a real plane (rows x
// HalfCols(cols), spectral.h): the planes, the kernel and the difference
// filters are real, so the other half follows by conjugate symmetry.
#pragma once

#include <fftw3.h>

#include <cstddef>
#include <vector>

#include "pipeline/spectral.h"

namespace velmora {

// The spectra of one kernel on one H x W canvas: made once per solve and
// shared by every plane and by both solves of ringing reduction.
struct KernelSpectra {
  KernelSpectra(const float* kernel, int H, int W, int kernelRows, int kernelCols);
  int H, W;
  ComplexArray K;      // the kernel's transfer function
  FloatArray denom1;   // |K|^2
  FloatArray denom2;   // |Fh|^2 + |Fv|^2 of the forward differences [1, -1] and [1; -1] (closed form)
};

// The arrays one solve works in, reused by every plane of a job.
struct TVWorkspace {
  TVWorkspace(int H, int W);
  int H, W;
  FloatArray div;         // divergence of the thresholded gradients
  ComplexArray spectrum;  // its half spectrum, then the solution's
  ComplexArray nomin;     // the data term's numerator, conj(K) times the data's spectrum
};

// nomin = conj(K) x F(data), data an H x W plane.
void DataNumerator(const float* data, const KernelSpectra& spectra, TVWorkspace& work);

// One pass: soft-thresholds the gradients of I, solves
// FI = (beta FD + nomin) / (denom1 + beta denom2) and writes the new I.
// solution, when given (a half spectrum), receives FI scaled so that the
// unnormalised inverse transform gives I.
void HalfQuadraticPass(float* I, float threshold, float beta, const KernelSpectra& spectra,
                       TVWorkspace& work, fftwf_complex* solution = nullptr);

// The data a solve fits when some samples are clipped: the blurred plane,
// each clipped sample raised to the blurred latent picture where that is
// brighter, since a clipped sample only bounds the light from below. Holds
// one more plane and one more half spectrum than the solve without it.
class ClippedData {
 public:
  ClippedData(int H, int W);
  // blurred: the H x W plane the next solve fits, kept by the caller;
  // clipped: indices into it.
  void Use(const float* blurred, std::vector<size_t> clipped);
  const std::vector<size_t>& clipped() const { return clipped_; }
  fftwf_complex* solution() { return solution_.get(); }
  // Forms k * I from the solution spectrum kept by the last pass, raises
  // the data with it and writes the data's numerator into work.nomin.
  void Update(const KernelSpectra& spectra, TVWorkspace& work);
  const float* data() const { return data_.get(); }

 private:
  const float* blurred_;
  std::vector<size_t> clipped_;
  int H_, W_;
  FloatArray data_;
  ComplexArray solution_;
  std::vector<float> raised_;  // k * I at the clipped samples, reused by every update
};

bool KernelSidesOdd(int kernelRows, int kernelCols);

}  // namespace velmora
