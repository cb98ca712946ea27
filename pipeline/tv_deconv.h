// Total-variation deconvolution of one plane with a known kernel, solved by
// half-quadratic splitting in the Fourier domain (circular convolution: the
// caller hands in padded planes).
//
// blurred, result: H x W floats, row-major; kernel: kernelRows x kernelCols,
// both odd. The solvers return false when a kernel side is even (the error
// line is printed and result holds the blurred plane) or when memory runs
// out.
#pragma once

#include "pipeline/tv_common.h"

namespace velmora {

// Inner continuation of both solvers: passes run while t >= 0.01 (single
// precision) and (1 / t) / lambda < 1024 (double precision).
bool ContinuationGoesOn(float t, float lambda);
// Number of inner passes for a weight, as the solvers run them.
int ContinuationPassCount(float lambda);

// Minimises 1/2 |k * I - B|^2 + lambda (|Dx I|_1 + |Dy I|_1).
bool FastDeconvTVL2(const float* blurred, float* result, const float* kernel, int H, int W,
                    int kernelRows, int kernelCols, float lambda);
// The same with the spectra and the work arrays of the caller: work.nomin
// must hold DataNumerator(blurred), which both ringing solves share.
void SolveTVL2(const float* blurred, float* result, const KernelSpectra& spectra,
               TVWorkspace& work, float lambda);
// The same with clipped samples taken as lower bounds (clipped holds the
// blurred plane and its clipped samples): the data is raised after every
// pass, which costs two more transforms a pass. work.nomin holds the raised
// data's numerator after.
void SolveTVL2(const float* blurred, float* result, const KernelSpectra& spectra,
               TVWorkspace& work, float lambda, ClippedData& clipped);

// Spatial convolution with replicated borders (kernel flipped, centred on its
// centre element), computed through the Fourier domain on a grid large
// enough that the borders never wrap. Made once per canvas and kernel.
class ReplicateConvolution {
 public:
  ReplicateConvolution(const float* kernel, int H, int W, int kernelRows, int kernelCols);
  // destination may equal source; both H x W.
  void Apply(const float* source, float* destination);

 private:
  int H_, W_, rowRadius_, colRadius_, gridRows_, gridCols_;
  ComplexArray transfer_, spectrum_;
  FloatArray grid_;
};

// Outlier-tolerant variant with an L1 data term.
bool FastDeconvTVL1(const float* blurred, float* result, const float* kernel, int H, int W,
                    int kernelRows, int kernelCols, float lambda);
// The same with the caller's spectra, work arrays and convolution.
// clipped, when given, holds indices of samples taken as lower bounds: a
// clipped sample the blurred latent picture exceeds costs nothing.
void SolveTVL1(const float* blurred, float* result, const KernelSpectra& spectra,
               TVWorkspace& work, ReplicateConvolution& convolution, float lambda,
               const std::vector<size_t>* clipped = nullptr);

// Spatial convolution with replicated borders, as ReplicateConvolution;
// destination may equal source.
void ConvolveReplicate(const float* source, float* destination, int W, int H,
                       const float* kernel, int kernelCols, int kernelRows);

// The smallest length of at least n whose only prime factors are 2, 3, 5
// and 7, which the transforms handle fastest.
int SmoothLength(int n);

}  // namespace velmora
