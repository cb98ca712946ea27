// Stand-ins for the device modules in a build without a CUDA compiler. The
// device test answers false there, so no job takes the GPU path; a caller
// that tries anyway gets the same fault a failed device call gives.
#include "src/cupadimage.h"
#include "src/cuestimatekernel.h"
#include "src/fast_deconv_cuda.h"
#include "src/gpu_check.h"

namespace velmora::gpu {

namespace {
[[noreturn]] void NoGpu() { Fail("this build has no GPU path"); }
}  // namespace

void BuildPaddingSpectraGpu(const float*, int, int, int, int, Float2*, Float2*, Float2*, Float2*,
                            int*, int*) {
  NoGpu();
}

void RefinePaddingGpu(float*, int, int, float, float, const Float2*, const Float2*, const Float2*,
                      const Float2*) {
  NoGpu();
}

bool RunTVL2Gpu(float*, int, int, const float*, int, int, float) { NoGpu(); }

bool RunTVL1Gpu(float*, int, int, const float*, int, int, float) { NoGpu(); }

void EstimateKernelFFTGpu(const float*, const float*, const GpuLevelSpectra&, int, int, int, int,
                          float*, float) {
  NoGpu();
}

bool UpdateLatentImageGpu(const float*, float*, const GpuLevelSpectra&, int, int, int, int, float,
                          bool) {
  NoGpu();
}

void ShockFilterGpu(const float*, float*, int, int, int, float, float) { NoGpu(); }

}  // namespace velmora::gpu
