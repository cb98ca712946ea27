#include "pipeline/spectral.h"

#include <cmath>
#include <cstdlib>
#include <mutex>

namespace velmora {

namespace {
std::vector<LoggedTransform>* g_transformLog = nullptr;
// The FFTW planner is not thread-safe; executing distinct plans is.
std::mutex g_plannerLock;
}  // namespace

void SetTransformLog(std::vector<LoggedTransform>* log) { g_transformLog = log; }

namespace {

// Plans under the planner lock; a plan the planner cannot make means it ran
// out of memory.
template <typename MakePlan>
fftwf_plan PlanLocked(MakePlan make) {
  fftwf_plan plan;
  {
    std::lock_guard<std::mutex> lock(g_plannerLock);
    plan = make();
  }
  if (!plan) throw std::bad_alloc();
  return plan;
}

}  // namespace

FftPlan::FftPlan(int rows, int cols, fftwf_complex* in, fftwf_complex* out, int sign)
    : plan_(PlanLocked([&] { return fftwf_plan_dft_2d(rows, cols, in, out, sign, FFTW_ESTIMATE); })) {}

FftPlan::FftPlan(int n, fftwf_complex* in, fftwf_complex* out, int sign)
    : plan_(PlanLocked([&] { return fftwf_plan_dft_1d(n, in, out, sign, FFTW_ESTIMATE); })) {}

FftPlan::FftPlan(int rows, int cols, float* in, fftwf_complex* out)
    : plan_(PlanLocked([&] { return fftwf_plan_dft_r2c_2d(rows, cols, in, out, FFTW_ESTIMATE); })) {}

FftPlan::FftPlan(int rows, int cols, fftwf_complex* in, float* out)
    : plan_(PlanLocked([&] { return fftwf_plan_dft_c2r_2d(rows, cols, in, out, FFTW_ESTIMATE); })) {}

FftPlan::~FftPlan() {
  if (!plan_) return;
  std::lock_guard<std::mutex> lock(g_plannerLock);
  fftwf_destroy_plan(plan_);
}

void FftPlan::Execute() const { fftwf_execute(plan_); }

namespace {

void LogTransform(int rows, int cols, bool real) {
  if (g_transformLog) {
    std::lock_guard<std::mutex> lock(g_plannerLock);
    g_transformLog->push_back({rows, cols, real});
  }
}

}  // namespace

void Fft2d(fftwf_complex* in, fftwf_complex* out, int rows, int cols, int sign) {
  FftPlan plan(rows, cols, in, out, sign);
  plan.Execute();
  LogTransform(rows, cols, false);
}

void RealFft2d(const float* in, fftwf_complex* out, int rows, int cols) {
  // Out-of-place real forward transforms leave their input alone, and
  // estimate-mode planning does not touch the arrays.
  FftPlan plan(rows, cols, const_cast<float*>(in), out);
  plan.Execute();
  LogTransform(rows, cols, true);
}

void InverseRealFft2d(fftwf_complex* in, float* out, int rows, int cols) {
  FftPlan plan(rows, cols, in, out);
  plan.Execute();
  LogTransform(rows, cols, true);
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

void KernelToSpectrum(const float* kernel, fftwf_complex* spectrum, int rows, int cols,
                      int kernelRows, int kernelCols) {
  FloatArray grid(GridSize(rows, cols));
  grid.zero();
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
  RealSpectrum(grid.get(), spectrum, rows, cols);
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
