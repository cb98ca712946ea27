// Running out of memory at any point of a job: the engine reports it, frees
// every array it made, and the next job runs as if nothing had happened.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "pipeline/engine.h"
#include "pipeline/spectral.h"
#include "tests/seeded.h"
#include "tools/shake.h"

using namespace velmora;

namespace {

constexpr int kRows = 210, kCols = 230, kKernel = 9;

std::vector<float> Picture() { return test_inputs::StripedNoise(kRows, kCols, 5); }

struct Outcome {
  int result;
  std::vector<float> output;
};

Outcome Known(const std::vector<float>& input, const std::vector<float>& kernel, int ringing, int noise) {
  Outcome r{0, std::vector<float>(input.size(), -1.0f)};
  r.result = DeblurWithKernel(input.data(), r.output.data(), kernel.data(), kRows, kCols, 3,
                              kKernel, kKernel, 0.04f, ringing, noise, true, nullptr);
  return r;
}

Outcome Blind(const std::vector<float>& input) {
  Outcome r{0, std::vector<float>(input.size(), -1.0f)};
  std::vector<float> kernel(kKernel * kKernel);
  r.result = DeblurImage(input.data(), r.output.data(), kRows, kCols, 3, kernel.data(), kKernel,
                         kKernel, 1.0f, 1.0f, 0.04f, 0, 0, true, nullptr);
  return r;
}

// Fails each allocation of one run in turn: run(k) with the k-th failing.
template <typename Body>
void FailEachAllocation(Body body, const Outcome& reference) {
  const long before = array_accounting::Made();
  body();  // counts the allocations of a whole run
  const long allocations = array_accounting::Made() - before;
  ASSERT_GT(allocations, 3);
  const long live = array_accounting::Live();
  // Every allocation for small runs; a spread of them otherwise.
  const long step = std::max(1L, allocations / 40);
  for (long k = 1; k <= allocations; k += step) {
    array_accounting::FailAllocation(k);
    const Outcome failed = body();
    array_accounting::FailAllocation(0);
    EXPECT_EQ(failed.result, kEngineOutOfMemory) << "allocation " << k << " of " << allocations;
    EXPECT_EQ(array_accounting::Live(), live) << "arrays left behind after allocation " << k;
  }
  const Outcome again = body();
  EXPECT_EQ(again.result, reference.result);
  EXPECT_EQ(again.output, reference.output);
}

}  // namespace

TEST(FailureMidway, NonBlindSolversFreeEverythingAndRecover) {
  const std::vector<float> input = Picture();
  const cv::Mat k = tools::GenerateShakeKernel(kKernel, 3);
  const std::vector<float> kernel(k.begin<float>(), k.end<float>());
  for (const auto& [ringingFlag, noiseFlag] : {std::pair{0, 0}, {1, 0}, {0, 1}}) {
    const int ringing = ringingFlag, noise = noiseFlag;  // plain names a lambda can capture
    const Outcome reference = Known(input, kernel, ringing, noise);
    ASSERT_EQ(reference.result, 0);
    FailEachAllocation([&] { return Known(input, kernel, ringing, noise); }, reference);
  }
}

TEST(FailureMidway, BlindEstimationFreesEverythingAndRecovers) {
  const std::vector<float> input = Picture();
  const Outcome reference = Blind(input);
  FailEachAllocation([&] { return Blind(input); }, reference);
}
