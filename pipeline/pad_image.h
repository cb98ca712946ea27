// Boundary padding: places an image in the middle of a larger canvas and
// synthesises the border so that the canvas behaves like one smooth picture
// blurred by the kernel under circular convolution. The interior stays the
// input exactly.
#pragma once

#include <fftw3.h>

namespace velmora {

// Spectra of one canvas level (rows x cols complex values each).
struct PaddingSpectra {
  fftwf_complex* FreqDerrs = nullptr;  // |Fdx|^2 + |Fdy|^2
  fftwf_complex* FreqF2 = nullptr;     // |FreqF|^2
  fftwf_complex* FreqWt = nullptr;     // 1 + 0.5 FreqDerrs + 0.25 (second derivatives)
  fftwf_complex* FreqF = nullptr;      // kernel spectrum
  int rows = 0;
  int cols = 0;
};

// Number of pyramid levels used for a kernel whose larger side is m (at
// least 1, so that the picture always lands on the canvas).
int PaddingLevelCount(int m);

// Side of the kernel at a coarser level: ceil(f x side), at least 3, odd.
int PaddingKernelSide(int side, float f);

// Allocates and fills spectra for a rows x cols canvas.
void BuildPaddingSpectra(const float* kernel, int cols, int rows, int kernelCols,
                         int kernelRows, PaddingSpectra* spectra);
void ReleasePaddingSpectra(PaddingSpectra* spectra);

// One refinement step of one canvas plane, in place.
void RefinePadding(float* plane, int cols, int rows, float wt_ireg, float wt_breg,
                   const PaddingSpectra& spectra);

// input: rows x cols x channels; output: padRows x padCols x channels, owned
// by the caller. Requires padRows >= rows, padCols >= cols, a kernel no
// larger than the canvas. Returns false (output undefined) when memory runs
// out or the sizes are refused.
bool PadImage(const float* input, float* output, const float* kernel, int cols, int rows,
              int channels, int kernelCols, int kernelRows, int padCols, int padRows,
              bool useCpu);

}  // namespace velmora
