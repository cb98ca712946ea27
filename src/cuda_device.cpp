#include "src/cuda_device.h"

#include <dlfcn.h>

#ifdef VELMORA_HAVE_CUDA
#include <cuda_runtime_api.h>
#endif

#include <algorithm>
#include <string>

#include "src/gpu_check.h"
#include "src/gpu_host.h"

#ifndef VELMORA_CUFFT_LIBRARY
#define VELMORA_CUFFT_LIBRARY "libcufft.so"
#endif

namespace velmora::gpu {

namespace {

CufftEntryPoints& LoadedEntryPoints() {
  static CufftEntryPoints entryPoints;
  return entryPoints;
}

template <typename Function>
void Lookup(void* library, const char* name, Function* out) {
  *out = reinterpret_cast<Function>(dlsym(library, name));
}

}  // namespace

const CufftEntryPoints& Cufft() { return LoadedEntryPoints(); }

const char* CufftLibraryName() { return VELMORA_CUFFT_LIBRARY; }

bool LoadCufftFrom(const char* library) {
  void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return false;
  CufftEntryPoints found;
  Lookup(handle, "cufftPlan1d", &found.plan1d);
  Lookup(handle, "cufftPlan2d", &found.plan2d);
  Lookup(handle, "cufftDestroy", &found.destroy);
  Lookup(handle, "cufftExecC2C", &found.execC2C);
  if (!found.Complete()) {
    dlclose(handle);  // nothing of it is referenced
    return false;
  }
  LoadedEntryPoints() = found;
  return true;
}

bool BuiltWithCuda() {
#ifdef VELMORA_HAVE_CUDA
  return true;
#else
  return false;
#endif
}

bool GpuPathUsable() {
  static const bool devicePresent = TestCudaDevice();
  return devicePresent && Cufft().Complete() && !GpuDisabled();
}

bool QueryDeviceLimits(DeviceLimits* limits) {
#ifdef VELMORA_HAVE_CUDA
  int device = 0, width = 0, height = 0, depth = 0;
  size_t freeBytes = 0, totalBytes = 0;
  if (cudaGetDevice(&device) != cudaSuccess ||
      cudaDeviceGetAttribute(&width, cudaDevAttrMaxTexture3DWidth, device) != cudaSuccess ||
      cudaDeviceGetAttribute(&height, cudaDevAttrMaxTexture3DHeight, device) != cudaSuccess ||
      cudaDeviceGetAttribute(&depth, cudaDevAttrMaxTexture3DDepth, device) != cudaSuccess ||
      cudaMemGetInfo(&freeBytes, &totalBytes) != cudaSuccess)
    return false;
  limits->maxTexture3dSide = std::min(width, height);
  limits->freeBytes = freeBytes;
  return true;
#else
  (void)limits;
  return false;
#endif
}

}  // namespace velmora::gpu

bool TestCudaDevice() {
#ifdef VELMORA_HAVE_CUDA
  int count = 0;
  const cudaError_t result = cudaGetDeviceCount(&count);
  return velmora::gpu::DeviceCountMeansDevice(result == cudaSuccess, count);
#else
  return false;
#endif
}

bool LoadCufft() {
#ifdef VELMORA_HAVE_CUDA
  using namespace velmora::gpu;
  if (LoadCufftFrom(CufftLibraryName())) return true;
#ifdef VELMORA_CUFFT_LIBRARY_DIR
  // A toolkit outside the loader's search path is still found where it was
  // at build time.
  const std::string inToolkit = std::string(VELMORA_CUFFT_LIBRARY_DIR) + "/" + CufftLibraryName();
  if (LoadCufftFrom(inToolkit.c_str())) return true;
#endif
  return false;
#else
  return false;
#endif
}
