// Transform plans made once and reused: across sizes, threads and array
// alignments they give what a plan made for the call would, and measuring
// them later leaves wisdom for the next run.
#include <gtest/gtest.h>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/parallel.h"
#include "pipeline/plan_cache.h"
#include "pipeline/spectral.h"
#include "tests/seeded.h"

using namespace velmora;

namespace {

std::vector<float> Random(size_t n, unsigned seed) { return test_inputs::Random(n, seed, -1.0f, 1.0f); }

// The half spectrum by a plan made for this call alone.
std::vector<float> FreshSpectrum(const std::vector<float>& plane, int rows, int cols) {
  FloatArray in(plane.size());
  std::copy(plane.begin(), plane.end(), in.get());
  ComplexArray out(GridSize(rows, HalfCols(cols)));
  fftwf_plan plan = fftwf_plan_dft_r2c_2d(rows, cols, in.get(), out.get(), FFTW_ESTIMATE);
  fftwf_execute(plan);
  fftwf_destroy_plan(plan);
  return std::vector<float>(&out[0][0], &out[0][0] + 2 * out.size());
}

std::vector<float> CachedSpectrum(const float* plane, int rows, int cols) {
  ComplexArray out(GridSize(rows, HalfCols(cols)));
  RealFft2d(plane, out.get(), rows, cols);
  return std::vector<float>(&out[0][0], &out[0][0] + 2 * out.size());
}

void ExpectClose(const std::vector<float>& a, const std::vector<float>& b, float scale) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) ASSERT_NEAR(a[i], b[i], 2e-6f * scale) << i;
}

struct Shape {
  int rows, cols;
};
// Small and odd, prime, and large enough for threaded transforms.
const Shape kShapes[] = {{8, 12}, {9, 7}, {31, 17}, {300, 257}, {512, 640}};

}  // namespace

TEST(PlanCache, ReusedPlansMatchFreshOnesAcrossSizes) {
  omp_set_num_threads(2);  // the large shapes get threaded plans
  for (int round = 0; round < 2; ++round)
    for (const Shape& s : kShapes) {
      const std::vector<float> plane = Random(GridSize(s.rows, s.cols), s.rows + s.cols);
      const float scale = std::sqrt(static_cast<float>(plane.size()));
      ExpectClose(CachedSpectrum(plane.data(), s.rows, s.cols), FreshSpectrum(plane, s.rows, s.cols), scale);
      // Back again through the cached inverse: the plane, times its size.
      ComplexArray spectrum(GridSize(s.rows, HalfCols(s.cols)));
      RealFft2d(plane.data(), spectrum.get(), s.rows, s.cols);
      std::vector<float> back(plane.size());
      InverseRealFft2d(spectrum.get(), back.data(), s.rows, s.cols);
      for (size_t i = 0; i < plane.size(); ++i)
        ASSERT_NEAR(back[i] / plane.size(), plane[i], 1e-5f) << s.rows << "x" << s.cols;
    }
}

TEST(PlanCache, ArraysWithoutSimdAlignmentGetTheirOwnPlan) {
  const int rows = 40, cols = 50;
  const std::vector<float> plane = Random(GridSize(rows, cols), 3);
  FloatArray shifted(plane.size() + 1);
  std::copy(plane.begin(), plane.end(), shifted.get() + 1);  // 4 bytes off the alignment
  ExpectClose(CachedSpectrum(shifted.get() + 1, rows, cols), FreshSpectrum(plane, rows, cols), 50.0f);
}

TEST(PlanCache, ConcurrentUseGivesTheSingleThreadedResults) {
  std::vector<std::vector<float>> planes, expected;
  for (const Shape& s : kShapes) {
    planes.push_back(Random(GridSize(s.rows, s.cols), 100 + s.rows));
    expected.push_back(CachedSpectrum(planes.back().data(), s.rows, s.cols));
  }
  // Four threads, each through every shape in its own order, planning new
  // sizes (the odd ones) while others execute.
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 5; ++round)
        for (size_t k = 0; k < planes.size(); ++k) {
          const size_t i = (k + t) % planes.size();
          if (CachedSpectrum(planes[i].data(), kShapes[i].rows, kShapes[i].cols) != expected[i]) ++mismatches[t];
          const int odd = 13 + 2 * t + round;  // a size no other thread asks for
          const std::vector<float> extra = Random(GridSize(odd, odd), odd);
          if (CachedSpectrum(extra.data(), odd, odd).size() != 2u * odd * HalfCols(odd)) ++mismatches[t];
        }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST(PlanCache, MeasuredPlansAreSavedAsWisdom) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "velmora_wisdom_test";
  std::filesystem::remove_all(folder);
  setenv("XDG_CACHE_HOME", folder.c_str(), 1);
  EXPECT_EQ(WisdomPath(), (folder / "velmora" / "fftw-wisdom").string());
  // A size planned without measuring waits for its measurement.
  const std::vector<float> plane = Random(GridSize(45, 56), 9);
  const std::vector<float> before = CachedSpectrum(plane.data(), 45, 56);
  ASSERT_GT(PendingTransformCount(), 0u);
  MeasurePendingTransforms(60.0);
  EXPECT_EQ(PendingTransformCount(), 0u);
  EXPECT_GT(std::filesystem::file_size(WisdomPath()), 0u);
  // The measured plan computes the same transform.
  ExpectClose(CachedSpectrum(plane.data(), 45, 56), before, 50.0f);
  // No time at all measures nothing and keeps what is pending.
  CachedSpectrum(Random(GridSize(47, 58), 2).data(), 47, 58);
  const size_t pending = PendingTransformCount();
  MeasurePendingTransforms(0.0);
  EXPECT_EQ(PendingTransformCount(), pending);
  // A plan too costly for one budget is measured once two have paid for it.
  MeasurePendingTransforms(60.0);  // nothing left over, no credit
  ASSERT_EQ(PendingTransformCount(), 0u);
  CachedSpectrum(Random(GridSize(600, 700), 4).data(), 600, 700);
  ASSERT_EQ(PendingTransformCount(), 1u);
  MeasurePendingTransforms(0.4);
  EXPECT_EQ(PendingTransformCount(), 1u);
  MeasurePendingTransforms(0.4);
  EXPECT_EQ(PendingTransformCount(), 0u);
  std::filesystem::remove_all(folder);
}

TEST(PlanCache, PlanningTimeAfterAJobIsBounded) {
  EXPECT_DOUBLE_EQ(PostJobPlanningSeconds(1.0), 0.5);
  EXPECT_DOUBLE_EQ(PostJobPlanningSeconds(100.0), 10.0);
  EXPECT_DOUBLE_EQ(PostJobPlanningSeconds(-1.0), 0.0);
}

// Plans made in a fixed scope leave the measured wisdom as it was, are
// never queued for measuring, and compute the same transform.
TEST(PlanCache, FixedPlansSetTheWisdomAsideAndGiveItBack) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "velmora_fixed_test";
  std::filesystem::remove_all(folder);
  setenv("XDG_CACHE_HOME", folder.c_str(), 1);
  const std::vector<float> plane = Random(GridSize(36, 50), 5);
  const std::vector<float> measured = CachedSpectrum(plane.data(), 36, 50);
  MeasurePendingTransforms(60.0);
  ASSERT_EQ(PendingTransformCount(), 0u);
  char* before = fftwf_export_wisdom_to_string();
  {
    const FixedTransformPlans fixed;
    ExpectClose(CachedSpectrum(plane.data(), 36, 50), measured, 50.0f);
    CachedSpectrum(Random(GridSize(40, 54), 6).data(), 40, 54);
    EXPECT_EQ(PendingTransformCount(), 0u);
  }
  char* after = fftwf_export_wisdom_to_string();
  // The same entries; FFTW's hash table may list them in another order.
  auto entries = [](const char* text) {
    std::multiset<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.insert(line);
    return lines;
  };
  EXPECT_EQ(entries(after), entries(before));
  fftwf_free(before);
  fftwf_free(after);
  std::filesystem::remove_all(folder);
}
