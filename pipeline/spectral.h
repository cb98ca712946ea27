// Fourier-domain conventions of the engine and the helpers every solver
// shares.
//
// Complex arrays are rows x cols interleaved (re, im) float pairs, row-major,
// allocated with fftwf_malloc. Transforms are out of place and unnormalised;
// their plans are made once per size and reused (plan_cache.h). A kernel's
// spectrum has the kernel's centre element at the origin.
//
// Internally, allocation failure throws std::bad_alloc; every public engine
// entry catches it and turns it into a failure result.
#pragma once

#include <fftw3.h>

#include <cstddef>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace velmora {

// Bookkeeping of the engine's arrays, for the tests of what a failed
// allocation half-way through a job leaves behind.
namespace array_accounting {
// Counts an allocation; throws std::bad_alloc when a failure was asked for.
void Allocating();
void Released();
// Makes the n-th allocation from now on fail (n >= 1); 0 fails none.
void FailAllocation(long n);
// Arrays allocated and not yet freed, and allocations so far.
long Live();
long Made();
}  // namespace array_accounting

// Owns an fftwf_malloc'ed array of n elements of T (float or fftwf_complex).
template <typename T>
class FftwArray {
 public:
  FftwArray() = default;
  explicit FftwArray(size_t n) : n_(n) {
    if (n == 0) return;
    if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    array_accounting::Allocating();
    data_ = static_cast<T*>(fftwf_malloc(n * sizeof(T)));
    if (!data_) {
      array_accounting::Released();
      throw std::bad_alloc();
    }
  }
  FftwArray(const FftwArray&) = delete;
  FftwArray& operator=(const FftwArray&) = delete;
  FftwArray(FftwArray&& o) noexcept : data_(std::exchange(o.data_, nullptr)), n_(std::exchange(o.n_, 0)) {}
  FftwArray& operator=(FftwArray&& o) noexcept {
    if (this != &o) {
      reset();
      data_ = std::exchange(o.data_, nullptr);
      n_ = std::exchange(o.n_, 0);
    }
    return *this;
  }
  ~FftwArray() { reset(); }

  void reset() {
    if (data_) {
      fftwf_free(data_);
      array_accounting::Released();
    }
    data_ = nullptr;
    n_ = 0;
  }
  void zero() {
    if (data_) std::memset(static_cast<void*>(data_), 0, n_ * sizeof(T));
  }

  T* get() const { return data_; }
  size_t size() const { return n_; }
  T& operator[](size_t i) const { return data_[i]; }

 private:
  T* data_ = nullptr;
  size_t n_ = 0;
};

using ComplexArray = FftwArray<fftwf_complex>;
using FloatArray = FftwArray<float>;

// Element count of a rows x cols grid, without int overflow.
inline size_t GridSize(int rows, int cols) {
  return static_cast<size_t>(rows) * static_cast<size_t>(cols);
}

// Transforms a rows x cols grid from in to out (out of place, in kept).
void Fft2d(const fftwf_complex* in, fftwf_complex* out, int rows, int cols, int sign);
// A 1-D transform of n points (out of place, in kept).
void Fft1d(const fftwf_complex* in, fftwf_complex* out, int n, int sign);

// The iterative solvers transform real planes and take real parts back: for
// those the half spectrum of a real transform carries the same numbers at a
// fraction of the cost. Half spectra are rows x HalfCols(cols) complex
// values; element (i, j) is the full spectrum's element (i, j), j <= cols / 2.
inline int HalfCols(int cols) { return cols / 2 + 1; }
// Forward transform of a real plane into its half spectrum; in is kept.
void RealFft2d(const float* in, fftwf_complex* out, int rows, int cols);
// The real inverse of a half spectrum (of a real plane), unnormalised: the
// real part of the full inverse. in is overwritten.
void InverseRealFft2d(fftwf_complex* in, float* out, int rows, int cols);

// 1-D real transforms of n points (a row of a plane), as the 2-D ones.
void RealFft1d(const float* in, fftwf_complex* out, int n);
void InverseRealFft1d(fftwf_complex* in, float* out, int n);

// The smallest length of at least n whose only prime factors are 2, 3, 5
// and 7: the lengths the transforms are fast at. A real transform's last
// dimension should also be even (odd ones run several times slower).
int FastTransformLength(int n, bool even = false);

// Benchmarks only: a log of the 2-D transforms executed while one is set.
struct LoggedTransform {
  int rows, cols;
  bool real;     // a real transform (half spectrum), else complex to complex
  bool inverse;  // the backward direction
};
void SetTransformLog(std::vector<LoggedTransform>* log);

// The full rows x cols spectrum of a real plane, from its half spectrum and
// conjugate symmetry. in is kept.
void RealSpectrum(const float* in, fftwf_complex* spectrum, int rows, int cols);

// Copies a real plane into a complex array with zero imaginary parts.
void RealToComplex(const float* plane, fftwf_complex* out, size_t n);

// Transfer function of a kernelRows x kernelCols filter on a rows x cols
// grid: the taps are placed circularly with the centre tap (kernelRows / 2,
// kernelCols / 2) at the origin, then forward-transformed into spectrum.
void KernelToSpectrum(const float* kernel, fftwf_complex* spectrum, int rows, int cols,
                      int kernelRows, int kernelCols);
// The same as a half spectrum, rows x HalfCols(cols); scratch, when given,
// holds rows x cols floats to place the taps in.
void KernelToHalfSpectrum(const float* kernel, fftwf_complex* spectrum, int rows, int cols,
                          int kernelRows, int kernelCols, float* scratch = nullptr);

// x to an integer power by repeated squaring, every product rounded to
// single precision, so that pyramid sizes agree everywhere.
float PowInt(float x, int n);
float CeilF(float x);
float FloorF(float x);
// Real power computed in double precision and rounded to single precision.
float PowF(float x, float y);
// Natural logarithm rounded to single precision.
float LogF(float x);

// ceil(scale x n) with the product rounded to single precision first.
int ScaledSize(int n, float scale);

}  // namespace velmora
