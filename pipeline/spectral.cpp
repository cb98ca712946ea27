#include "pipeline/spectral.h"

#include "pipeline/parallel_for.h"
#include "pipeline/plan_cache.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>

namespace velmora {

namespace {

std::vector<LoggedTransform>* g_transformLog = nullptr;
std::mutex g_logLock;

void LogTransform(int rows, int cols, bool real, bool inverse) {
  if (g_transformLog) {
    std::lock_guard<std::mutex> lock(g_logLock);
    g_transformLog->push_back({rows, cols, real, inverse});
  }
}

bool Aligned(const void* a, const void* b) {
  return fftwf_alignment_of(static_cast<float*>(const_cast<void*>(a))) == 0 &&
         fftwf_alignment_of(static_cast<float*>(const_cast<void*>(b))) == 0;
}

// FFTW's new-array execute functions take non-const arrays; forward
// transforms out of place leave their input alone.
template <typename T>
T* Mutable(const T* p) {
  return const_cast<T*>(p);
}

}  // namespace

void SetTransformLog(std::vector<LoggedTransform>* log) { g_transformLog = log; }

namespace array_accounting {

namespace {
std::atomic<long> g_live{0}, g_made{0}, g_failAt{0};
}  // namespace

void Allocating() {
  const long made = ++g_made;
  const long failAt = g_failAt.load(std::memory_order_relaxed);
  if (failAt != 0 && made == failAt) throw std::bad_alloc();
  ++g_live;
}
void Released() { --g_live; }
void FailAllocation(long n) { g_failAt = n == 0 ? 0 : g_made + n; }
long Live() { return g_live; }
long Made() { return g_made; }

}  // namespace array_accounting

void Fft2d(const fftwf_complex* in, fftwf_complex* out, int rows, int cols, int sign) {
  const TransformKind kind = sign == FFTW_FORWARD ? TransformKind::kComplexForward : TransformKind::kComplexInverse;
  fftwf_execute_dft(TransformPlan(kind, rows, cols, Aligned(in, out)), Mutable(in), out);
  LogTransform(rows, cols, false, sign != FFTW_FORWARD);
}

void Fft1d(const fftwf_complex* in, fftwf_complex* out, int n, int sign) {
  const TransformKind kind = sign == FFTW_FORWARD ? TransformKind::kLineForward : TransformKind::kLineInverse;
  fftwf_execute_dft(TransformPlan(kind, 1, n, Aligned(in, out)), Mutable(in), out);
}

void RealFft2d(const float* in, fftwf_complex* out, int rows, int cols) {
  fftwf_execute_dft_r2c(TransformPlan(TransformKind::kRealForward, rows, cols, Aligned(in, out)),
                        Mutable(in), out);
  LogTransform(rows, cols, true, false);
}

void InverseRealFft2d(fftwf_complex* in, float* out, int rows, int cols) {
  fftwf_execute_dft_c2r(TransformPlan(TransformKind::kRealInverse, rows, cols, Aligned(in, out)), in, out);
  LogTransform(rows, cols, true, true);
}

void RealFft1d(const float* in, fftwf_complex* out, int n) {
  fftwf_execute_dft_r2c(TransformPlan(TransformKind::kRealLineForward, 1, n, Aligned(in, out)),
                        Mutable(in), out);
}

void InverseRealFft1d(fftwf_complex* in, float* out, int n) {
  fftwf_execute_dft_c2r(TransformPlan(TransformKind::kRealLineInverse, 1, n, Aligned(in, out)), in,
                        out);
}

int FastTransformLength(int n, bool even) {
  for (int m = std::max(n, 1);; ++m) {
    if (even && m % 2 != 0) continue;
    int rest = m;
    for (int p : {2, 3, 5, 7})
      while (rest % p == 0) rest /= p;
    if (rest == 1) return m;
  }
}

void RealToComplex(const float* plane, fftwf_complex* out, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    out[i][0] = plane[i];
    out[i][1] = 0.0f;
  }
}

void RealSpectrum(const float* in, fftwf_complex* spectrum, int rows, int cols) {
  const int half = HalfCols(cols);
  ComplexArray packed(GridSize(rows, half));
  RealFft2d(in, packed.get(), rows, cols);
  for (int i = 0; i < rows; ++i) {
    fftwf_complex* out = spectrum + GridSize(i, cols);
    const fftwf_complex* row = packed.get() + GridSize(i, half);
    for (int j = 0; j < half; ++j) {
      out[j][0] = row[j][0];
      out[j][1] = row[j][1];
    }
    // X(i, j) = conj(X(-i, -j)) for the columns past the half.
    const fftwf_complex* mirror = packed.get() + GridSize((rows - i) % rows, half);
    for (int j = half; j < cols; ++j) {
      out[j][0] = mirror[cols - j][0];
      out[j][1] = -mirror[cols - j][1];
    }
  }
}

namespace {

// The taps placed circularly on a zeroed rows x cols grid, the centre tap
// (kernelRows / 2, kernelCols / 2) at the origin.
void PlaceKernel(const float* kernel, float* grid, int rows, int cols, int kernelRows,
                 int kernelCols) {
  VELMORA_PARALLEL_FOR(GridSize(rows, cols))
  for (int i = 0; i < rows; ++i) std::fill_n(grid + GridSize(i, cols), cols, 0.0f);
  const int hr = kernelRows / 2;
  const int hc = kernelCols / 2;
  for (int i = 0; i < kernelRows; ++i) {
    // Double modulo keeps kernels larger than the grid inside it.
    const int r = ((i - hr) % rows + rows) % rows;
    for (int j = 0; j < kernelCols; ++j) {
      const int c = ((j - hc) % cols + cols) % cols;
      grid[GridSize(r, cols) + c] = kernel[GridSize(i, kernelCols) + j];
    }
  }
}

}  // namespace

void KernelToSpectrum(const float* kernel, fftwf_complex* spectrum, int rows, int cols,
                      int kernelRows, int kernelCols) {
  FloatArray grid(GridSize(rows, cols));
  PlaceKernel(kernel, grid.get(), rows, cols, kernelRows, kernelCols);
  RealSpectrum(grid.get(), spectrum, rows, cols);
}

void KernelToHalfSpectrum(const float* kernel, fftwf_complex* spectrum, int rows, int cols,
                          int kernelRows, int kernelCols, float* scratch) {
  FloatArray own(scratch ? 0 : GridSize(rows, cols));
  float* grid = scratch ? scratch : own.get();
  PlaceKernel(kernel, grid, rows, cols, kernelRows, kernelCols);
  RealFft2d(grid, spectrum, rows, cols);
}

float PowInt(float x, int n) {
  float r = 1.0f;
  unsigned e = n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n);
  while (true) {
    if (e & 1u) r = r * x;
    e >>= 1;
    if (e == 0) break;
    x = x * x;
  }
  return n < 0 ? 1.0f / r : r;
}

float CeilF(float x) { return std::ceil(x); }
float FloorF(float x) { return std::floor(x); }
float PowF(float x, float y) {
  return static_cast<float>(std::pow(static_cast<double>(x), static_cast<double>(y)));
}
float LogF(float x) { return std::log(x); }

int ScaledSize(int n, float scale) {
  const float product = scale * static_cast<float>(n);
  return static_cast<int>(CeilF(product));
}

}  // namespace velmora
