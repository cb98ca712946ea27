// The latent step of the sharp estimator: the sharp picture x that best
// explains the blurred level picture y under the current kernel k, with an
// L0 prior on x's gradients,
//   min_x ||k * x - y||^2 + lambda ||grad x||_0,
// solved by half-quadratic splitting on a smooth periodic canvas: auxiliary
// gradients (h, v) alternate with a closed-form Fourier solve for x while
// the coupling weight beta doubles.
#pragma once

#include "pipeline/spectral.h"

namespace velmora {

// The blurred level picture extended to a canvas whose opposite borders
// meet smoothly, and what every latent step of the level shares.
struct PeriodicCanvas {
  int rows = 0, cols = 0;  // the picture, at the canvas's top-left
  int canvasRows = 0, canvasCols = 0;
  FloatArray picture;          // canvasRows x canvasCols
  ComplexArray spectrum;       // its half spectrum, canvasRows x HalfCols(canvasCols)
  FloatArray differenceEnergy; // |F(Dh)|^2 + |F(Dv)|^2 at each half-spectrum cell
};

// The canvas of a rows x cols picture: at least marginRows and marginCols
// more on each axis, then the next fast transform length; the margins are a
// cosine blend from the last row (column) back to the first.
PeriodicCanvas MakePeriodicCanvas(const float* picture, int rows, int cols, int marginRows,
                                  int marginCols);

// The blend alone: canvas (canvasRows x canvasCols, caller-owned) receives
// picture (rows x cols) at its top-left and the blended margins.
void BlendToPeriodic(const float* picture, int rows, int cols, float* canvas, int canvasRows,
                     int canvasCols);

// Scratch of the latent steps of one level, allocated once per level.
struct L0Workspace {
  explicit L0Workspace(const PeriodicCanvas& canvas);
  FloatArray divergence;    // canvas plane
  ComplexArray numerator;   // conj(K) Y, half spectrum
  ComplexArray spectrum;    // half spectrum of the divergence, then of x
  FloatArray kernelEnergy;  // |K|^2, half spectrum
  FloatArray rows;          // three row buffers per thread
  int threads = 1;
};

// latent (canvasRows x canvasCols, caller-owned) receives the latent image
// for kernel (kernelRows x kernelCols, centre tap at the zero shift); the
// splitting starts from the blurred canvas.
void L0LatentUpdate(const PeriodicCanvas& canvas, const float* kernel, int kernelRows,
                    int kernelCols, float lambda, float betaMax, float* latent, L0Workspace* work);

// The objective the latent step minimises, for a kernel and the latent
// image it gave: ||k * x - y||^2 over the picture pixels whose footprint
// lies inside it, plus lambda times the number of the picture's pixels
// whose gradient the prior kept (at the last splitting step's threshold).
// Lower is a better joint explanation of the picture; comparable between
// kernels for one picture and lambda. work is scratch.
double L0Energy(const PeriodicCanvas& canvas, const float* kernel, int kernelRows, int kernelCols,
                float lambda, float betaMax, const float* latent, L0Workspace* work);

// The splitting's spatial half: w = Dh' h + Dv' v, where h and v are x's
// periodic forward differences (rows x cols), both set to 0 wherever
// h^2 + v^2 < threshold. rowScratch holds 3 x cols floats.
void ThresholdedDivergence(const float* x, int rows, int cols, float threshold, float* w,
                           float* rowScratch, int threads);

}  // namespace velmora
