// Launch geometry shared by every two-dimensional device kernel: one thread
// per element, 16 x 16 blocks, a grid rounded up to whole blocks. Threads of
// the partial last blocks test their coordinates and do nothing.
#pragma once

namespace velmora::gpu {

inline constexpr unsigned kBlockSide = 16;

struct LaunchShape {
  unsigned gridX = 0, gridY = 0;
  unsigned blockX = kBlockSide, blockY = kBlockSide;
};

// For a grid of rows x cols elements (unsigned division, as the kernels
// index with unsigned coordinates).
constexpr LaunchShape Launch2d(unsigned rows, unsigned cols) {
  return LaunchShape{(cols + kBlockSide - 1) / kBlockSide, (rows + kBlockSide - 1) / kBlockSide,
                     kBlockSide, kBlockSide};
}

// Whether thread coordinates (x, y) name an element of a rows x cols grid.
constexpr bool InGrid(unsigned x, unsigned y, unsigned rows, unsigned cols) {
  return x < cols && y < rows;
}

}  // namespace velmora::gpu
