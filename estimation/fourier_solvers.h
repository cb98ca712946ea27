// The two closed-form least-squares steps of every estimation iteration.
// The kernel solve runs on the level's zero-padded grid (linear
// convolution); the latent update on the level grid itself (circular).
#pragma once

#include "pipeline/spectral.h"

namespace velmora {

struct LevelSpectra;
struct LevelWorkspace;

// Raw kernel estimate (unnormalised, possibly negative) from the predicted
// gradients gradX, gradY (rows x cols): 0.5 (conj(Ix) Bx + conj(Iy) By) /
// (0.5 (|Ix|^2 + |Iy|^2) + wtKreg) per frequency.
// workspace: the level's scratch, or null for scratch of this call alone.
void EstimateKernelFFT(const float* gradX, const float* gradY, const LevelSpectra& spectra,
                       int rows, int cols, int kernelRows, int kernelCols, float* kernel,
                       float wtKreg, LevelWorkspace* workspace = nullptr);

// Inverse of KernelToSpectrum: inverse-transforms a gridRows x gridCols
// spectrum (overwritten as scratch) and cuts out the kernel around the
// origin.
void KernelFromSpectrum(fftwf_complex* spectrum, float* kernel, int gridRows, int gridCols,
                        int kernelRows, int kernelCols);

// Overwrites latent with W conj(K) B / (W |K|^2 + wtIreg D). Without check
// the result is clamped to [0, 1] and the call succeeds. With check, values
// overshooting away from their previous side (above 1 from below 0.9, below
// 0 from 0.9 up) are clipped and counted, and the call fails when more than
// a fifth of the pixels were.
bool UpdateLatentImage(const float* kernel, float* latent, const LevelSpectra& spectra, int rows,
                       int cols, int kernelRows, int kernelCols, float wtIreg, bool check,
                       LevelWorkspace* workspace = nullptr);

}  // namespace velmora
