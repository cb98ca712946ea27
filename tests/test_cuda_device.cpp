// The GPU availability tests: the device count rule and the cuFFT loader.
#include <gtest/gtest.h>

#include "src/cuda_device.h"

using namespace velmora::gpu;

TEST(CudaDevice, OnlyAReportedDeviceCounts) {
  EXPECT_TRUE(DeviceCountMeansDevice(true, 1));
  EXPECT_TRUE(DeviceCountMeansDevice(true, 4));
  EXPECT_FALSE(DeviceCountMeansDevice(true, 0));  // success, but nothing to run on
  EXPECT_FALSE(DeviceCountMeansDevice(false, 2));
#ifndef VELMORA_HAVE_CUDA
  EXPECT_FALSE(TestCudaDevice());
  EXPECT_FALSE(LoadCufft());
#endif
}

TEST(CudaDevice, LoaderRefusesMissingLibrariesAndEntryPoints) {
  EXPECT_FALSE(LoadCufftFrom("libvelmora-no-such-library.so"));
  EXPECT_FALSE(Cufft().Complete());
  // The maths library loads but has none of the four entry points.
  EXPECT_FALSE(LoadCufftFrom("libm.so.6"));
  const CufftEntryPoints& none = Cufft();
  EXPECT_EQ(none.plan1d, nullptr);
  EXPECT_EQ(none.plan2d, nullptr);
  EXPECT_EQ(none.destroy, nullptr);
  EXPECT_EQ(none.execC2C, nullptr);
}

#ifdef VELMORA_HAVE_CUDA
TEST(CudaDevice, InstalledLibraryGivesAllFourEntryPoints) {
  // The toolkit's cuFFT loads without a GPU: only its use needs a device.
  ASSERT_TRUE(LoadCufft()) << "could not load " << CufftLibraryName();
  EXPECT_TRUE(Cufft().Complete());
}
#endif
