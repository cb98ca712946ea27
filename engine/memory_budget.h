// How much memory a job needs at its peak, and how much the machine can
// give it: a job that cannot fit is refused before it starts, with both
// figures, rather than failing half-way.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace velmora {

// The engine's own peak for one call on a rows x cols x channels picture
// with a kernelRows x kernelCols kernel: blind (DeblurImage) or not
// (DeblurWithKernel). The caller's input and output buffers are not
// counted. The larger of the estimator's and the deconvolution's peaks,
// each stated beside its code, with a margin and the fixed costs (plans,
// thread stacks, the image library's buffers): on the safe side.
size_t EngineMemoryBytes(int rows, int cols, int channels, int kernelRows, int kernelCols,
                         bool blind, int reduceRinging, int reduceNoise);

// The same for DeblurImageSharp: its estimation works on a window (the
// whole picture below the window's size).
size_t SharpEngineMemoryBytes(int rows, int cols, int channels, int kernelRows, int kernelCols,
                              int reduceRinging, int reduceNoise);

// What modelling clipped highlights adds to either peak, on the safe side
// (the picture may or may not show lamps): the picture in linear light for
// the estimation and again for the restore, the raised data and its
// spectrum, and the clipped samples' indices.
size_t HighlightsMemoryBytes(int rows, int cols, int channels, int kernelRows, int kernelCols);

// A whole job's need on a picture of wholeRows x wholeCols x channels,
// run on rows x cols of it (the region, or the whole): the job's own
// pictures (the float picture, the planar input and output, the float and
// stored results), the engine's peak, the highlights model when asked, and
// the GPU path's host arrays when it runs there.
size_t JobMemoryBytes(int wholeRows, int wholeCols, int rows, int cols, int channels,
                      int kernelRows, int kernelCols, bool blind, bool sharp, bool highlights,
                      bool useCpu, int reduceRinging, int reduceNoise);

// What this process may still allocate: the smallest of the memory the
// system has available, what is left of this process's address-space and
// data limits, and what is left of its control group's limit. Empty when
// none of them can be read.
std::optional<size_t> AvailableMemoryBytes();

// "needs about 9.1 GiB of memory; 6.0 GiB are free".
std::string MemoryShortfall(size_t needed, size_t available);

}  // namespace velmora
