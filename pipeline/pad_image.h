// Boundary padding: places an image in the middle of a larger canvas and
// synthesises the border so that the canvas behaves like one smooth picture
// blurred by the kernel under circular convolution. The interior stays the
// input exactly.
#pragma once

#include <fftw3.h>

#include "pipeline/spectral.h"

namespace velmora {

// The refinement's transfer function on one canvas level, a half spectrum
// (rows x HalfCols(cols)) of real values: with F the kernel's spectrum, D the
// first-difference energy and w the smoothness weight, the refinement
// deconvolves with weight wt_ireg and re-blurs with smoothing wt_breg, which
// together multiply the spectrum by w^2 |F|^2 / ((w |F|^2 + wt_ireg D) (w + wt_breg D)),
// here with the inverse transform's 1 / (rows x cols) included.
struct PaddingSpectra {
  FloatArray gain;
  int rows = 0;
  int cols = 0;
};

// Number of pyramid levels used for a kernel whose larger side is m (at
// least 1, so that the picture always lands on the canvas).
int PaddingLevelCount(int m);

// Side of the kernel at a coarser level: ceil(f x side), at least 3, odd.
int PaddingKernelSide(int side, float f);

// Fills spectra for a rows x cols canvas.
void BuildPaddingSpectra(const float* kernel, int cols, int rows, int kernelCols,
                         int kernelRows, float wt_ireg, float wt_breg, PaddingSpectra* spectra);
void ReleasePaddingSpectra(PaddingSpectra* spectra);

// One refinement step of one canvas plane, in place; work holds
// rows x HalfCols(cols) complex values.
void RefinePadding(float* plane, int cols, int rows, const PaddingSpectra& spectra,
                   fftwf_complex* work);

// input: rows x cols x channels; output: padRows x padCols x channels, owned
// by the caller. Requires padRows >= rows, padCols >= cols, a kernel no
// larger than the canvas. Returns false (output undefined) when memory runs
// out or the sizes are refused.
bool PadImage(const float* input, float* output, const float* kernel, int cols, int rows,
              int channels, int kernelCols, int kernelRows, int padCols, int padRows,
              bool useCpu);

}  // namespace velmora
