#include "app/gpu_state.h"

#include "src/cuda_device.h"

bool gpuAvailable = false;
bool cufftMissing = false;

void RunGpuTests() {
  gpuAvailable = TestCudaDevice();
  cufftMissing = gpuAvailable && !LoadCufft();
}
