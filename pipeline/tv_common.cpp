#include "pipeline/tv_common.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace velmora {

namespace {

inline float SoftThreshold(float g, float threshold) {
  const float sign = g < 0.0f ? -1.0f : 1.0f;
  return sign * std::max(std::fabs(g) - threshold, 0.0f);
}

}  // namespace

void DifferenceEnergySpectrum(fftwf_complex* out, int H, int W) {
  static const float diff[2] = {1, -1};
  const size_t n = GridSize(H, W);
  ComplexArray fh(n), fv(n);
  KernelToSpectrum(diff, fh.get(), H, W, 1, 2);
  KernelToSpectrum(diff, fv.get(), H, W, 2, 1);
  for (size_t i = 0; i < n; ++i) {
    out[i][0] = (fh[i][0] * fh[i][0] + fh[i][1] * fh[i][1]) +
                (fv[i][0] * fv[i][0] + fv[i][1] * fv[i][1]);
    out[i][1] = 0.0f;
  }
}

TVWorkspace::TVWorkspace(int H_, int W_)
    : H(H_), W(W_), wx(GridSize(H_, W_)), wy(GridSize(H_, W_)), div(GridSize(H_, W_)),
      spectrum(GridSize(H_, HalfCols(W_))) {}

void HalfQuadraticPass(float* I, float threshold, float beta, const fftwf_complex* nomin,
                       const fftwf_complex* denom1, const fftwf_complex* denom2,
                       TVWorkspace& work) {
  const int H = work.H, W = work.W;
  const size_t n = GridSize(H, W);
  float* wx = work.wx.get();
  float* wy = work.wy.get();
  for (int i = 0; i < H; ++i) {
    const float* row = I + GridSize(i, W);
    const float* below = I + GridSize((i + 1) % H, W);
    float* wxr = wx + GridSize(i, W);
    float* wyr = wy + GridSize(i, W);
    for (int j = 0; j + 1 < W; ++j) wxr[j] = SoftThreshold(row[j + 1] - row[j], threshold);
    wxr[W - 1] = SoftThreshold(row[0] - row[W - 1], threshold);
    for (int j = 0; j < W; ++j) wyr[j] = SoftThreshold(below[j] - row[j], threshold);
  }
  float* div = work.div.get();
  for (int i = 0; i < H; ++i) {
    const float* wxr = wx + GridSize(i, W);
    const float* wyr = wy + GridSize(i, W);
    const float* wyAbove = wy + GridSize((i + H - 1) % H, W);
    float* d = div + GridSize(i, W);
    d[0] = (wxr[W - 1] - wxr[0]) + (wyAbove[0] - wyr[0]);
    for (int j = 1; j < W; ++j) d[j] = (wxr[j - 1] - wxr[j]) + (wyAbove[j] - wyr[j]);
  }
  fftwf_complex* fd = work.spectrum.get();
  RealFft2d(div, fd, H, W);
  const int half = HalfCols(W);
  for (int i = 0; i < H; ++i) {
    const size_t full = GridSize(i, W), packed = GridSize(i, half);
    for (int j = 0; j < half; ++j) {
      const size_t k = full + j;
      fftwf_complex& f = fd[packed + j];
      const float den = denom1[k][0] + beta * denom2[k][0];
      f[0] = (beta * f[0] + nomin[k][0]) / den;
      f[1] = (beta * f[1] + nomin[k][1]) / den;
    }
  }
  InverseRealFft2d(fd, div, H, W);
  const float count = static_cast<float>(n);
  for (size_t k = 0; k < n; ++k) I[k] = div[k] / count;
}

bool KernelSidesOdd(int kernelRows, int kernelCols) {
  if (kernelRows % 2 == 0 || kernelCols % 2 == 0) {
    std::printf("Error - blur kernel k must be odd-sized.\n");
    std::fflush(stdout);
    return false;
  }
  return true;
}

bool ContinuationGoesOn(float t, float lambda) {
  return t >= 0.01f && (1.0 / static_cast<double>(t)) / static_cast<double>(lambda) < 1024.0;
}

int ContinuationPassCount(float lambda) {
  int passes = 0;
  for (float t = 1.0f / lambda; ContinuationGoesOn(t, lambda); t = t / 2.0f) ++passes;
  return passes;
}

}  // namespace velmora
