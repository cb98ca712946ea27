// Whether the GPU path can run: the CUDA device test and the cuFFT library,
// which is loaded by name at start-up rather than linked, so that a machine
// without it still runs everything on the CPU.
#pragma once

namespace velmora::gpu {

// The four cuFFT entry points the GPU modules call, with the library's
// signatures spelled without its headers (handle int, complex float pairs).
struct CufftEntryPoints {
  int (*plan1d)(int* plan, int nx, int type, int batch) = nullptr;
  int (*plan2d)(int* plan, int nx, int ny, int type) = nullptr;
  int (*destroy)(int plan) = nullptr;
  int (*execC2C)(int plan, void* idata, void* odata, int direction) = nullptr;

  bool Complete() const { return plan1d && plan2d && destroy && execC2C; }
};

// The entry points loaded by LoadCufft; all null until a load succeeded.
// Written once at start-up, only read afterwards.
const CufftEntryPoints& Cufft();

// The cuFFT library file this build loads (its installed soname).
const char* CufftLibraryName();

// A device counts only when the count call succeeded and found at least one.
inline bool DeviceCountMeansDevice(bool callSucceeded, int count) {
  return callSucceeded && count > 0;
}

// Loads `library` and looks up the four entry points. Returns false, and sets
// no pointer, when the library cannot be loaded or lacks any of them. The
// library stays loaded for the life of the process once a load succeeded.
bool LoadCufftFrom(const char* library);

struct DeviceLimits;

// Whether this build holds the GPU modules.
bool BuiltWithCuda();

// Whether a job may take the GPU path at all: a device was found, cuFFT is
// loaded, and nothing has switched the path off (gpu_check.h).
bool GpuPathUsable();

// The device's texture and free-memory limits; false when it cannot say.
bool QueryDeviceLimits(DeviceLimits* limits);

}  // namespace velmora::gpu

// True when the CUDA runtime reports at least one device; false in a build
// without CUDA.
bool TestCudaDevice();

// Loads CufftLibraryName() with LoadCufftFrom; false in a build without CUDA.
bool LoadCufft();
