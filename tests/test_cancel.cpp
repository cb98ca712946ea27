// Stopping a job: the engine answers "cancelled" at any of its checkpoints,
// frees everything it made, and the next job gives the same bytes as if
// nothing had been stopped; the job's diagnostic lines go to its sink.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/engine.h"
#include "frontend/job.h"
#include "pipeline/job_context.h"
#include "pipeline/plan_cache.h"
#include "pipeline/spectral.h"
#include "tests/seeded.h"
#include "tools/shake.h"

using namespace velmora;

namespace {

constexpr int kRows = 210, kCols = 230, kKernel = 9;

std::vector<float> Picture() { return test_inputs::StripedNoise(kRows, kCols, 5); }

struct Outcome {
  int result = 0;
  std::vector<float> output;
};

enum class Entry { kClassic, kSharp, kKnown, kKnownRingingNoise };

Outcome Call(Entry entry, const std::vector<float>& input) {
  Outcome r{0, std::vector<float>(input.size(), -1.0f)};
  std::vector<float> kernel(kKernel * kKernel);
  const cv::Mat k = tools::GenerateShakeKernel(kKernel, 3);
  switch (entry) {
    case Entry::kClassic:
      r.result = DeblurImage(input.data(), r.output.data(), kRows, kCols, 3, kernel.data(), kKernel,
                             kKernel, 1.0f, 1.0f, 0.04f, 0, 0, true, nullptr);
      break;
    case Entry::kSharp:
      r.result = DeblurImageSharp(input.data(), r.output.data(), kRows, kCols, 3, kernel.data(),
                                  kKernel, kKernel, 1.0f, 0.04f, 0, 0, true, nullptr);
      break;
    case Entry::kKnown:
    case Entry::kKnownRingingNoise: {
      const int extra = entry == Entry::kKnown ? 0 : 1;
      r.result = DeblurWithKernel(input.data(), r.output.data(), k.ptr<float>(), kRows, kCols, 3,
                                  kKernel, kKernel, 0.04f, extra, extra, true, nullptr);
      break;
    }
  }
  return r;
}

// One call with a context current; the context's sink swallows the lines.
Outcome CallWith(JobContext& context, Entry entry, const std::vector<float>& input) {
  context.log = [](const char*) {};
  const JobContextScope scope(&context);
  return Call(entry, input);
}

}  // namespace

class CancelAtEveryCheckpoint : public ::testing::TestWithParam<Entry> {};

TEST_P(CancelAtEveryCheckpoint, FreesEverythingAndTheNextJobIsUnchanged) {
  const std::vector<float> input = Picture();
  JobContext counting;
  const Outcome reference = CallWith(counting, GetParam(), input);
  const long checkpoints = counting.checkpoints.load();
  ASSERT_GT(checkpoints, 3);
  const long live = array_accounting::Live();
  const long step = std::max(1L, checkpoints / 20);
  for (long k = 1; k <= checkpoints; k += step) {
    JobContext context;
    context.cancelAtCheckpoint = k;
    const Outcome cancelled = CallWith(context, GetParam(), input);
    EXPECT_EQ(cancelled.result, kEngineCancelled) << "checkpoint " << k << " of " << checkpoints;
    EXPECT_EQ(array_accounting::Live(), live) << "arrays left behind at checkpoint " << k;
  }
  JobContext fresh;
  const Outcome again = CallWith(fresh, GetParam(), input);
  EXPECT_EQ(again.result, reference.result);
  EXPECT_EQ(again.output, reference.output);
}

INSTANTIATE_TEST_SUITE_P(Entries, CancelAtEveryCheckpoint,
                         ::testing::Values(Entry::kClassic, Entry::kSharp, Entry::kKnown,
                                           Entry::kKnownRingingNoise));

// Without a context, or with one without a sink, the lines go to standard
// output as always; with a sink they go there only.
TEST(JobContextLog, LinesGoToTheSinkInsteadOfStandardOutput) {
  const std::vector<float> input = Picture();
  testing::internal::CaptureStdout();
  Call(Entry::kKnown, input);
  const std::string plain = testing::internal::GetCapturedStdout();
  EXPECT_EQ(plain, "start padding image...\nstart deconvolution...\n");

  JobContext context;
  std::string collected;
  testing::internal::CaptureStdout();
  {
    const JobContextScope scope(&context);
    context.log = [&collected](const char* line) { collected += line; };
    Call(Entry::kKnown, input);
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(collected, plain);
}

// A job asked to stop ends cancelled with no result and no kernel picture,
// whether asked before it starts or while it runs.
TEST(JobCancel, EndsWithoutAResultOrAKernelPicture) {
  cv::Mat picture(300, 320, CV_8UC3);
  cv::randu(picture, 0, 255);
  DeblurSettings settings;
  settings.kernelHeight = settings.kernelWidth = 15;
  const std::string kernelPath = VELMORA_BINARY_DIR "/cancelled-kernel.png";
  std::remove(kernelPath.c_str());

  DeblurJob before(settings, nullptr);
  before.input = picture.clone();
  before.mode = kModeComplete;
  before.kernelPath = kernelPath;
  before.context.log = [](const char*) {};
  before.RequestCancel();
  before.Run();
  EXPECT_EQ(before.status, kJobCancelled);
  EXPECT_TRUE(before.result.empty());

  DeblurJob during(settings, nullptr);
  during.input = picture.clone();
  during.mode = kModeComplete;
  during.kernelPath = kernelPath;
  during.options.estimator = KernelEstimator::kSharp;
  during.context.log = [](const char*) {};
  std::thread worker([&during] { during.Run(); });
  while (during.context.checkpoints.load() < 3) std::this_thread::yield();
  during.RequestCancel();
  worker.join();
  EXPECT_EQ(during.status, kJobCancelled);
  EXPECT_TRUE(during.result.empty());
  EXPECT_FALSE(std::ifstream(kernelPath).good());
}

// A job asked to stop while a large plan is being measured stops at once;
// the measuring finishes in the background and its plan is kept.
TEST(JobCancel, MeasuringAPlanDoesNotHoldTheJob) {
  const PlanningAllowance allowance(1000.0);
  const int rows = 1000, cols = 1050;  // a size no other test plans
  const size_t pendingBefore = PendingTransformCount();
  JobContext context;
  context.cancel.store(true);
  bool stopped = false;
  {
    const JobContextScope scope(&context);
    try {
      TransformPlan(TransformKind::kRealForward, rows, cols, true);
    } catch (const JobCancelled&) {
      stopped = true;
    }
  }
  // Wisdom from an earlier run would make the plan at once, without
  // measuring: then there was nothing to stop.
  if (!stopped) GTEST_SKIP() << "the plan came from saved wisdom";
  // Without a job, the next request waits for the measuring and gets its
  // plan: measured, so nothing is left pending.
  EXPECT_NE(TransformPlan(TransformKind::kRealForward, rows, cols, true), nullptr);
  EXPECT_EQ(PendingTransformCount(), pendingBefore);
}
