// Total-variation deconvolution of one plane with a known kernel, solved by
// half-quadratic splitting in the Fourier domain (circular convolution: the
// caller hands in padded planes).
//
// blurred, result: H x W floats, row-major; kernel: kernelRows x kernelCols,
// both odd. The solvers return false when a kernel side is even (the error
// line is printed and result holds the blurred plane) or when memory runs
// out.
#pragma once

#include <fftw3.h>

namespace velmora {

// Inner continuation of both solvers: passes run while t >= 0.01 (single
// precision) and (1 / t) / lambda < 1024 (double precision).
bool ContinuationGoesOn(float t, float lambda);
// Number of inner passes for a weight, as the solvers run them.
int ContinuationPassCount(float lambda);

// Minimises 1/2 |k * I - B|^2 + lambda (|Dx I|_1 + |Dy I|_1).
bool FastDeconvTVL2(const float* blurred, float* result, const float* kernel, int H, int W,
                    int kernelRows, int kernelCols, float lambda);
// Nomin1 = conj(K) FB, Denom1 = |K|^2, Denom2 = |Fh|^2 + |Fv|^2 (H x W each).
void PrepareTVL2Spectra(const float* blurred, const float* kernel, int H, int W, int kernelRows,
                        int kernelCols, fftwf_complex* Nomin1, fftwf_complex* Denom1,
                        fftwf_complex* Denom2);

// Outlier-tolerant variant with an L1 data term.
bool FastDeconvTVL1(const float* blurred, float* result, const float* kernel, int H, int W,
                    int kernelRows, int kernelCols, float lambda);
void PrepareTVL1Spectra(const float* kernel, int H, int W, int kernelRows, int kernelCols,
                        fftwf_complex* K, fftwf_complex* Denom1, fftwf_complex* Denom2);

// Spatial convolution (kernel flipped, centred on its centre element) with
// replicated borders, accumulated in single precision. destination may equal
// source.
void ConvolveReplicate(const float* source, float* destination, int W, int H,
                       const float* kernel, int kernelCols, int kernelRows);

}  // namespace velmora
