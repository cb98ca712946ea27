// Device-side plumbing shared by the GPU modules (nvcc only): checked runtime
// calls, holders that free device memory, arrays, texture objects and
// transform plans on every way out, launches with the common geometry, and
// transforms through the cuFFT entry points loaded at start-up.
#pragma once

#include <cuda_runtime.h>

#include <cstddef>
#include <utility>

#include "src/cuda_device.h"
#include "src/gpu_check.h"
#include "src/gpu_elements.cuh"
#include "src/gpu_launch.h"

namespace velmora::gpu {

inline void SafeCall(cudaError_t result, const char* file, int line) {
  if (result != cudaSuccess)
    Fail(SafeCallLine(file, line, static_cast<int>(result), cudaGetErrorString(result)));
}

// The last error of the runtime: a failed launch, or an earlier launch that
// failed while running.
inline void CheckMsg(const char* message, const char* file, int line) {
  const cudaError_t result = cudaGetLastError();
  if (result != cudaSuccess)
    Fail(CheckMsgLine(file, line, message, static_cast<int>(result), cudaGetErrorString(result)));
}

#define VELMORA_SAFE_CALL(call) ::velmora::gpu::SafeCall((call), kModule, __LINE__)
#define VELMORA_CHECK_MSG(message) ::velmora::gpu::CheckMsg((message), kModule, __LINE__)
inline constexpr const char* kInsufficientMemory = "Insufficient Memory! \n";

// A linear device buffer of n elements of T.
template <typename T>
class DeviceBuffer {
 public:
  DeviceBuffer() = default;
  DeviceBuffer(size_t n, const char* file, int line) : n_(n) {
    SafeCall(cudaMalloc(reinterpret_cast<void**>(&data_), n * sizeof(T)), file, line);
  }
  DeviceBuffer(const DeviceBuffer&) = delete;
  DeviceBuffer& operator=(const DeviceBuffer&) = delete;
  DeviceBuffer(DeviceBuffer&& o) noexcept
      : data_(std::exchange(o.data_, nullptr)), n_(std::exchange(o.n_, 0)) {}
  DeviceBuffer& operator=(DeviceBuffer&& o) noexcept {
    if (this != &o) {
      reset();
      data_ = std::exchange(o.data_, nullptr);
      n_ = std::exchange(o.n_, 0);
    }
    return *this;
  }
  ~DeviceBuffer() { reset(); }
  void reset() {
    if (data_) cudaFree(data_);  // a failed free cannot be acted on
    data_ = nullptr;
    n_ = 0;
  }
  T* get() const { return data_; }
  size_t size() const { return n_; }
  size_t bytes() const { return n_ * sizeof(T); }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  T* data_ = nullptr;
  size_t n_ = 0;
};

#define VELMORA_DEVICE_BUFFER(T, n) ::velmora::gpu::DeviceBuffer<T>((n), kModule, __LINE__)

// A texture array (1-D when rows is 0, 3-D when planes > 0) together with
// the texture object that reads it: unnormalised coordinates, point
// sampling, clamp addressing in every dimension. The array's contents may
// be refilled; the object then reads the new ones.
template <typename T>
class TextureArray {
 public:
  TextureArray() = default;
  TextureArray(unsigned cols, unsigned rows, unsigned planes, const char* file, int line)
      : cols_(cols), rows_(rows), planes_(planes) {
    cudaChannelFormatDesc format = cudaCreateChannelDesc<T>();
    if (planes > 0)
      SafeCall(cudaMalloc3DArray(&array_, &format, make_cudaExtent(cols, rows, planes)), file, line);
    else
      SafeCall(cudaMallocArray(&array_, &format, cols, rows), file, line);
    cudaResourceDesc resource = {};
    resource.resType = cudaResourceTypeArray;
    resource.res.array.array = array_;
    cudaTextureDesc sampling = {};
    for (auto& mode : sampling.addressMode) mode = cudaAddressModeClamp;
    sampling.filterMode = cudaFilterModePoint;
    sampling.readMode = cudaReadModeElementType;
    sampling.normalizedCoords = 0;
    SafeCall(cudaCreateTextureObject(&texture_, &resource, &sampling, nullptr), file, line);
  }
  TextureArray(const TextureArray&) = delete;
  TextureArray& operator=(const TextureArray&) = delete;
  TextureArray(TextureArray&& o) noexcept { *this = std::move(o); }
  TextureArray& operator=(TextureArray&& o) noexcept {
    if (this != &o) {
      reset();
      array_ = std::exchange(o.array_, nullptr);
      texture_ = std::exchange(o.texture_, 0);
      cols_ = o.cols_;
      rows_ = o.rows_;
      planes_ = o.planes_;
    }
    return *this;
  }
  ~TextureArray() { reset(); }
  void reset() {
    if (texture_) cudaDestroyTextureObject(texture_);
    if (array_) cudaFreeArray(array_);
    texture_ = 0;
    array_ = nullptr;
  }
  explicit operator bool() const { return array_ != nullptr; }
  cudaTextureObject_t texture() const { return texture_; }

  // Fills a 1-D or 2-D array from row-major host or device memory.
  void Fill(const T* source, cudaMemcpyKind kind, const char* file, int line) {
    const size_t rowBytes = static_cast<size_t>(cols_) * sizeof(T);
    SafeCall(cudaMemcpy2DToArray(array_, 0, 0, source, rowBytes, rowBytes, rows_ ? rows_ : 1, kind),
             file, line);
  }
  // Fills a 3-D array from planes of rows x cols elements one after another.
  void FillPlanes(const T* source, cudaMemcpyKind kind, const char* file, int line) {
    cudaMemcpy3DParms copy = {};
    copy.srcPtr = make_cudaPitchedPtr(const_cast<T*>(source), static_cast<size_t>(cols_) * sizeof(T),
                                      cols_, rows_);
    copy.dstArray = array_;
    copy.extent = make_cudaExtent(cols_, rows_, planes_);
    copy.kind = kind;
    SafeCall(cudaMemcpy3D(&copy), file, line);
  }

 private:
  cudaArray_t array_ = nullptr;
  cudaTextureObject_t texture_ = 0;
  unsigned cols_ = 0, rows_ = 0, planes_ = 0;
};

#define VELMORA_TEXTURE_2D(T, cols, rows) ::velmora::gpu::TextureArray<T>((cols), (rows), 0, kModule, __LINE__)
#define VELMORA_TEXTURE_1D(T, n) ::velmora::gpu::TextureArray<T>((n), 0, 0, kModule, __LINE__)
#define VELMORA_TEXTURE_3D(T, cols, rows, planes) \
  ::velmora::gpu::TextureArray<T>((cols), (rows), (planes), kModule, __LINE__)

// Texture reads for the element functions, which take any callable reader.
template <typename T>
struct Texture1d {
  cudaTextureObject_t object;
  __device__ T operator()(float x) const { return tex1D<T>(object, x); }
};
template <typename T>
struct Texture2d {
  cudaTextureObject_t object;
  __device__ T operator()(float x, float y) const { return tex2D<T>(object, x, y); }
};
template <typename T>
struct Texture3d {
  cudaTextureObject_t object;
  __device__ T operator()(float x, float y, float plane) const {
    return tex3D<T>(object, x, y, plane);
  }
};

// The thread's element of a 2-D launch.
struct Element {
  unsigned x, y;
};
__device__ inline Element ThisElement() {
  return Element{blockIdx.x * kBlockSide + threadIdx.x, blockIdx.y * kBlockSide + threadIdx.y};
}

// The same with its index y * cols + x in a row-major grid of cols x rows;
// false for the idle threads of the partial last blocks.
__device__ inline bool ThisElementOf(unsigned cols, unsigned rows, Element* e, size_t* i) {
  *e = ThisElement();
  *i = static_cast<size_t>(e->y) * cols + e->x;
  return InGrid(e->x, e->y, rows, cols);
}

// Launches kernel over a rows x cols grid with the common geometry and
// checks that the launch was accepted.
template <typename Kernel, typename... Args>
void Launch(const char* name, const char* file, int line, Kernel kernel, unsigned rows,
            unsigned cols, Args... args) {
  const LaunchShape shape = Launch2d(rows, cols);
  if (shape.gridX == 0 || shape.gridY == 0) return;  // an empty grid has nothing to do
  kernel<<<dim3(shape.gridX, shape.gridY, 1), dim3(shape.blockX, shape.blockY, 1)>>>(args...);
  CheckMsg(name, file, line);
}

#define VELMORA_LAUNCH(kernel, rows, cols, ...) \
  ::velmora::gpu::Launch(#kernel, kModule, __LINE__, kernel, (rows), (cols), __VA_ARGS__)

// cuFFT through the loaded entry points; every result is checked.
inline constexpr int kCufftC2C = 0x29;
inline constexpr int kForward = -1;
inline constexpr int kInverse = 1;

inline void CufftCall(int result, const char* call, const char* file, int line) {
  if (result != 0) Fail(CufftLine(file, line, result, call));
}

class FftPlan {
 public:
  // rows x cols 2-D plan (rows first), or a 1-D plan of length cols when
  // rows is 0.
  FftPlan(int rows, int cols, const char* file, int line) : file_(file) {
    const CufftEntryPoints& cufft = Cufft();
    if (!cufft.Complete()) Fail(CufftLine(file, line, -1, "cuFFT is not loaded"));
    if (rows == 0)
      CufftCall(cufft.plan1d(&plan_, cols, kCufftC2C, 1), "cufftPlan1d", file, line);
    else
      CufftCall(cufft.plan2d(&plan_, rows, cols, kCufftC2C), "cufftPlan2d", file, line);
    made_ = true;
  }
  FftPlan(const FftPlan&) = delete;
  FftPlan& operator=(const FftPlan&) = delete;
  ~FftPlan() {
    if (made_) Cufft().destroy(plan_);
  }
  void Execute(Float2* in, Float2* out, int direction, int line) const {
    CufftCall(Cufft().execC2C(plan_, in, out, direction), "cufftExecC2C", file_, line);
  }

 private:
  int plan_ = 0;
  bool made_ = false;
  const char* file_;
};

#define VELMORA_FFT_PLAN(rows, cols) ::velmora::gpu::FftPlan((rows), (cols), kModule, __LINE__)

// Host <-> device copies of n elements.
template <typename T>
void CopyToDevice(T* device, const T* host, size_t n, const char* file, int line) {
  SafeCall(cudaMemcpy(device, host, n * sizeof(T), cudaMemcpyHostToDevice), file, line);
}
template <typename T>
void CopyToHost(T* host, const T* device, size_t n, const char* file, int line) {
  SafeCall(cudaMemcpy(host, device, n * sizeof(T), cudaMemcpyDeviceToHost), file, line);
}
template <typename T>
void CopyOnDevice(T* to, const T* from, size_t n, const char* file, int line) {
  SafeCall(cudaMemcpy(to, from, n * sizeof(T), cudaMemcpyDeviceToDevice), file, line);
}

}  // namespace velmora::gpu
