// Everything about one pyramid level's blurred image that stays fixed while
// the kernel and the latent image are iterated: gradients and their spectra
// on a zero-padded grid for the kernel solve, and the spectra the latent
// update needs on the level's own grid.
#pragma once

#include "pipeline/spectral.h"

namespace velmora {

// Spectra are half spectra of real planes (rows x HalfCols(cols),
// spectral.h); the other half follows by conjugate symmetry.
struct LevelSpectra {
  // Level grid (rows x cols).
  FloatArray FreqDerrs;    // |F(Dx)|^2 + |F(Dy)|^2
  ComplexArray FreqB;      // spectrum of the edge-tapered level image
  FloatArray FreqWt;       // 1 + 0.5 FreqDerrs + 0.25 (|F(Dxx)|^2 + |F(Dyy)|^2 + |F(Dxy)|^2)
  FloatArray Bx;           // forward horizontal difference, 0 in the last column
  FloatArray By;           // forward vertical difference, 0 in the last row
  // Padded grid (padRows x padCols), the image at (padTop, padLeft).
  ComplexArray BxFre;
  ComplexArray ByFre;
  int padRows = 0, padCols = 0;
  int padTop = 0, padBottom = 0, padLeft = 0, padRight = 0;
};

// Scratch of one level, shared by the steps of its iterations, which run
// one after another: four arrays, each large enough for a plane or a half
// spectrum of the level grid or of the padded grid. The prediction fills
// them with its blurred and shocked planes and leaves the gradients in the
// last two; the kernel solve reads those and writes its spectra over them.
struct LevelWorkspace {
  LevelWorkspace(const LevelSpectra& spectra, int rows, int cols);
  float* plane(int i) const { return buffers[i].get(); }
  fftwf_complex* spectrum(int i) const { return reinterpret_cast<fftwf_complex*>(buffers[i].get()); }
  FloatArray buffers[4];
};

// The padded length for a linear convolution of length n: the smallest of
// 2^k2, 3^k3, 5^k5, 7^k7 with kb = ceil(ln n / ln b), ln n in single
// precision. That rounding can push an exact power one step up (8 -> 9).
int PaddedLength(int n);

// Fills every field of spectra. kernel (kernelRows x kernelCols, normalised)
// only shapes the edge taper.
void BuildLevelSpectra(const float* image, const float* kernel, int cols, int rows,
                       int kernelCols, int kernelRows, LevelSpectra* spectra);

// Blends image towards its blurred copy near the borders, so that the
// circular model of the latent update sees no seam; result is rows x cols.
void EdgeTaper(const float* image, float* result, int rows, int cols, const float* kernel,
               int kernelRows, int kernelCols);

void ReleaseLevelSpectra(LevelSpectra* spectra);

// Places a rows x cols plane into grid, a zeroed padRows x padCols plane,
// with cell (y, x) at (y + padTop, x + padLeft).
void PlaceInPaddedGrid(const float* plane, int rows, int cols, const LevelSpectra& spectra,
                       float* grid);

}  // namespace velmora
