// The noise level of a blurred photograph, measured from the picture itself,
// for the steps whose weights depend on how noisy the input is.
#pragma once

namespace velmora {

// The standard deviation of additive white noise in a grey picture (rows x
// cols, row-major, values on the 0-1 scale, read only), from a robust
// deviation of its finest differences.
//
// Method: the picture is cut into 2 x 2 cells and each cell's diagonal Haar
// detail d = (a - b - c + e) / 2 is taken; for white noise of deviation
// sigma, d is normal with deviation sigma, independent of the cell's mean and
// of its horizontal and vertical details, and the median of |d| is
// 0.6745 sigma (Donoho and Johnstone's estimate). Picture detail also leaves
// some d, at edges the shake did not smear (those along its path) and in
// fine texture, so only the quietest 15 % of the cells are used: those whose
// 48 neighbouring cells (7 x 7 cells less the cell itself) carry the least
// diagonal detail. The neighbours share no sample with the cell, so under
// noise alone that choice leaves the distribution of the cell's own d as it
// was and costs no bias, only samples.
//
// Left out: cells in constant areas of at least 4 x 4 samples (clipped sky,
// a saturated highlight, a painted region: they carry no noise and would
// pull the median to 0; a single cell with four equal samples is kept, as
// on 8-bit data with little noise that is chance), cells holding a sample at
// exactly 0 or 1 (clipped: their noise is cut on one side), cells with a
// non-finite sample, and cells whose neighbourhood reaches the border or a
// left-out cell. The median is read from the tie group it falls in as if
// that group were spread evenly halfway to its neighbouring values, so on
// 8-bit data, whose details fall on a lattice of 1/510, it does not jump
// from lattice point to lattice point.
//
// Range and bias: meant for deviations from about 0.002 to 0.05 (half an
// 8-bit level to thirteen levels). Measured on photographs blurred by 31 px
// generated shakes (float, not quantised) it reads high by about 3 % at
// 0.002 and 0.005, 1 to 2 % at 0.01 and about 1 % at 0.02, from detail left
// in the quietest cells; dense foliage reads up to 17 % high at 0.002 (at
// 1280 x 800; 10 % at 2560 x 1600) and 6 % at 0.005. A noise-free blurred
// photograph gives about 0.0001 to 0.001. On 8-bit data it measures the
// rounding too, 1 / (255 sqrt 12) = 0.0011 in quadrature, and reads about
// 9 % above that total at 0.002 (rounding below a level is not normal
// noise), 3 % at 0.005. Noise that depends on brightness comes out as a
// typical value over the quietest cells. A few hundred cells give a value
// stable to about 10 %.
//
// Returns 0 when no cell carries information (fewer than 2 rows or
// columns, or every cell left out). Pictures too small for the
// neighbourhood (under 14 x 14 samples) are measured on all their cells.
// Deterministic; allocates one buffer of three floats per cell; 3 to 8 ms
// at 1 MP on one core (warm to first call).
double EstimateNoiseSigma(const float* grey, int rows, int cols);

}  // namespace velmora
