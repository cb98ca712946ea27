#include "estimation/l0_latent.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "pipeline/parallel.h"
#include "pipeline/parallel_for.h"

namespace velmora {

namespace {

// Weight of the far end in a cosine blend of m samples, at sample i.
float BlendWeight(int i, int m) {
  return static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * (i + 1) / (m + 1)));
}

// h and v of row r, zero where h^2 + v^2 < threshold.
VELMORA_WIDE_VECTORS
void ThresholdedRow(const float* x, int rows, int cols, int r, float threshold, float* h,
                    float* v) {
  const float* row = x + GridSize(r, cols);
  const float* below = x + GridSize(r + 1 == rows ? 0 : r + 1, cols);
  for (int c = 0; c + 1 < cols; ++c) {
    const float hc = row[c + 1] - row[c];
    const float vc = below[c] - row[c];
    const bool keep = hc * hc + vc * vc >= threshold;
    h[c] = keep ? hc : 0.0f;
    v[c] = keep ? vc : 0.0f;
  }
  const int c = cols - 1;
  const float hc = row[0] - row[c];
  const float vc = below[c] - row[c];
  const bool keep = hc * hc + vc * vc >= threshold;
  h[c] = keep ? hc : 0.0f;
  v[c] = keep ? vc : 0.0f;
}

// w(r, c) = h(r, c-1) - h(r, c) + v(r-1, c) - v(r, c), periodic.
VELMORA_WIDE_VECTORS
void DivergenceRow(const float* h, const float* v, const float* vAbove, int cols, float* w) {
  w[0] = h[cols - 1] - h[0] + vAbove[0] - v[0];
  for (int c = 1; c < cols; ++c) w[c] = h[c - 1] - h[c] + vAbove[c] - v[c];
}

// x's half spectrum = (N + beta W) / (|K|^2 + beta D), scaled by the
// inverse transform's 1 / (rows cols).
VELMORA_WIDE_VECTORS
void SolveSpectrum(const fftwf_complex* numerator, const float* kernelEnergy,
                   const float* differenceEnergy, float beta, float scale, fftwf_complex* w,
                   size_t begin, size_t end) {
  for (size_t i = begin; i < end; ++i) {
    const float f = scale / (kernelEnergy[i] + beta * differenceEnergy[i]);
    w[i][0] = (numerator[i][0] + beta * w[i][0]) * f;
    w[i][1] = (numerator[i][1] + beta * w[i][1]) * f;
  }
}

}  // namespace

void BlendToPeriodic(const float* picture, int rows, int cols, float* canvas, int canvasRows,
                     int canvasCols) {
  const int m = canvasCols - cols;
  for (int r = 0; r < rows; ++r) {
    const float* in = picture + GridSize(r, cols);
    float* out = canvas + GridSize(r, canvasCols);
    std::copy_n(in, cols, out);
    for (int i = 0; i < m; ++i) {
      const float w = BlendWeight(i, m);
      out[cols + i] = (1.0f - w) * in[cols - 1] + w * in[0];
    }
  }
  const int mr = canvasRows - rows;
  const float* last = canvas + GridSize(rows - 1, canvasCols);
  for (int i = 0; i < mr; ++i) {
    const float w = BlendWeight(i, mr);
    float* out = canvas + GridSize(rows + i, canvasCols);
    for (int c = 0; c < canvasCols; ++c) out[c] = (1.0f - w) * last[c] + w * canvas[c];
  }
}

PeriodicCanvas MakePeriodicCanvas(const float* picture, int rows, int cols, int marginRows,
                                  int marginCols) {
  PeriodicCanvas canvas;
  canvas.rows = rows;
  canvas.cols = cols;
  canvas.canvasRows = FastTransformLength(rows + marginRows);
  canvas.canvasCols = FastTransformLength(cols + marginCols, true);
  const int P = canvas.canvasRows, Q = canvas.canvasCols, half = HalfCols(Q);
  canvas.picture = FloatArray(GridSize(P, Q));
  BlendToPeriodic(picture, rows, cols, canvas.picture.get(), P, Q);
  canvas.spectrum = ComplexArray(GridSize(P, half));
  RealFft2d(canvas.picture.get(), canvas.spectrum.get(), P, Q);
  canvas.differenceEnergy = FloatArray(GridSize(P, half));
  for (int i = 0; i < P; ++i) {
    const double dv = 2.0 - 2.0 * std::cos(2.0 * std::numbers::pi * i / P);
    float* row = canvas.differenceEnergy.get() + GridSize(i, half);
    for (int j = 0; j < half; ++j)
      row[j] = static_cast<float>(dv + 2.0 - 2.0 * std::cos(2.0 * std::numbers::pi * j / Q));
  }
  return canvas;
}

L0Workspace::L0Workspace(const PeriodicCanvas& canvas) {
  const size_t plane = GridSize(canvas.canvasRows, canvas.canvasCols);
  const size_t half = GridSize(canvas.canvasRows, HalfCols(canvas.canvasCols));
  threads = plane >= kParallelSamples ? std::max(1, omp_get_max_threads()) : 1;
  divergence = FloatArray(plane);
  numerator = ComplexArray(half);
  spectrum = ComplexArray(half);
  kernelEnergy = FloatArray(half);
  rows = FloatArray(static_cast<size_t>(threads) * 3 * canvas.canvasCols);
}

void ThresholdedDivergence(const float* x, int rows, int cols, float threshold, float* w,
                           float* rowScratch, [[maybe_unused]] int threads) {
  // Each thread takes a band of rows and first works out the v of the row
  // above its band, which its first row needs.
#pragma omp parallel num_threads(threads) if (threads > 1)
  {
    const int t = omp_get_thread_num(), n = omp_get_num_threads();
    const int r0 = static_cast<int>(static_cast<long long>(rows) * t / n);
    const int r1 = static_cast<int>(static_cast<long long>(rows) * (t + 1) / n);
    float* h = rowScratch + static_cast<size_t>(3 * t) * cols;
    float* v = h + cols;
    float* vAbove = v + cols;
    if (r0 < r1) ThresholdedRow(x, rows, cols, r0 == 0 ? rows - 1 : r0 - 1, threshold, h, vAbove);
    for (int r = r0; r < r1; ++r) {
      ThresholdedRow(x, rows, cols, r, threshold, h, v);
      DivergenceRow(h, v, vAbove, cols, w + GridSize(r, cols));
      std::swap(v, vAbove);
    }
  }
}

double L0Energy(const PeriodicCanvas& canvas, const float* kernel, int kernelRows, int kernelCols,
                float lambda, float betaMax, const float* latent, L0Workspace* work) {
  const int P = canvas.canvasRows, Q = canvas.canvasCols;
  const size_t half = GridSize(P, HalfCols(Q));
  // k * x by transforms: K in the numerator's array, X in the spectrum's.
  KernelToHalfSpectrum(kernel, work->numerator.get(), P, Q, kernelRows, kernelCols,
                       work->divergence.get());
  RealFft2d(latent, work->spectrum.get(), P, Q);
  const float scale = 1.0f / static_cast<float>(static_cast<double>(P) * Q);
  fftwf_complex* X = work->spectrum.get();
  const fftwf_complex* K = work->numerator.get();
  for (size_t i = 0; i < half; ++i) {
    const float re = (K[i][0] * X[i][0] - K[i][1] * X[i][1]) * scale;
    const float im = (K[i][0] * X[i][1] + K[i][1] * X[i][0]) * scale;
    X[i][0] = re;
    X[i][1] = im;
  }
  float* blurred = work->divergence.get();
  InverseRealFft2d(X, blurred, P, Q);
  float beta = 2.0f * lambda, last = beta;
  for (; beta < betaMax; beta *= 2.0f) last = beta;
  const float threshold = lambda / last;
  double data = 0.0;
  long kept = 0;
  const int cr = kernelRows / 2, cc = kernelCols / 2;
  for (int r = 0; r < canvas.rows; ++r) {
    const float* x = latent + GridSize(r, Q);
    const float* below = latent + GridSize(r + 1 == P ? 0 : r + 1, Q);
    const float* y = canvas.picture.get() + GridSize(r, Q);
    const float* model = blurred + GridSize(r, Q);
    const bool inside = r >= cr && r < canvas.rows - cr;
    for (int c = 0; c < canvas.cols; ++c) {
      const float h = x[c + 1 == Q ? 0 : c + 1] - x[c], v = below[c] - x[c];
      if (h * h + v * v >= threshold) ++kept;
      if (inside && c >= cc && c < canvas.cols - cc) {
        const double d = model[c] - y[c];
        data += d * d;
      }
    }
  }
  return data + static_cast<double>(lambda) * kept;
}

void L0LatentUpdate(const PeriodicCanvas& canvas, const float* kernel, int kernelRows,
                    int kernelCols, float lambda, float betaMax, float* latent, L0Workspace* work) {
  const int P = canvas.canvasRows, Q = canvas.canvasCols;
  const size_t half = GridSize(P, HalfCols(Q));
  // K and its products with the blurred picture stay for the whole step.
  KernelToHalfSpectrum(kernel, work->spectrum.get(), P, Q, kernelRows, kernelCols,
                       work->divergence.get());
  const fftwf_complex* K = work->spectrum.get();
  const fftwf_complex* Y = canvas.spectrum.get();
  fftwf_complex* N = work->numerator.get();
  float* KK = work->kernelEnergy.get();
  VELMORA_PARALLEL_FOR(half)
  for (size_t i = 0; i < half; ++i) {
    N[i][0] = K[i][0] * Y[i][0] + K[i][1] * Y[i][1];
    N[i][1] = K[i][0] * Y[i][1] - K[i][1] * Y[i][0];
    KK[i] = K[i][0] * K[i][0] + K[i][1] * K[i][1];
  }
  std::copy_n(canvas.picture.get(), GridSize(P, Q), latent);
  const float scale = 1.0f / static_cast<float>(static_cast<double>(P) * Q);
  const int blocks = work->threads;
  for (float beta = 2.0f * lambda; beta < betaMax; beta *= 2.0f) {
    ThresholdedDivergence(latent, P, Q, lambda / beta, work->divergence.get(), work->rows.get(),
                          work->threads);
    RealFft2d(work->divergence.get(), work->spectrum.get(), P, Q);
#pragma omp parallel for num_threads(blocks) if (blocks > 1)
    for (int b = 0; b < blocks; ++b)
      SolveSpectrum(N, KK, canvas.differenceEnergy.get(), beta, scale, work->spectrum.get(),
                    half * b / blocks, half * (b + 1) / blocks);
    InverseRealFft2d(work->spectrum.get(), latent, P, Q);
  }
}

}  // namespace velmora
