// Transform plans of the process. A plan is made once per kind and size and
// reused through FFTW's new-array execute functions; planning is serialised,
// execution is not. Plans come from saved wisdom when there is some.
// Otherwise large grids are measured at once while the job's planning
// allowance lasts (a measured plan of them runs up to 2.5 times faster), and
// the rest are estimated now and measured later, when the front end has time
// for it (MeasurePendingTransforms). Wisdom is kept in
// $XDG_CACHE_HOME/velmora (or ~/.cache/velmora) between runs, so that every
// size is measured once per machine, over the first few runs.
#pragma once

#include <fftw3.h>

#include <cstddef>
#include <string>

namespace velmora {

enum class TransformKind : int {
  kComplexForward,   // rows x cols complex to complex, FFTW_FORWARD
  kComplexInverse,   // the same, FFTW_BACKWARD
  kRealForward,      // rows x cols real to rows x (cols / 2 + 1) complex
  kRealInverse,      // the inverse; destroys its input
  kLineForward,      // 1-D complex of length cols (rows is 1)
  kLineInverse,
  kRealLineForward,  // 1-D real of length cols to cols / 2 + 1 complex (rows is 1)
  kRealLineInverse,  // the inverse; destroys its input
};

// The plan for kind and size, for arrays with (aligned) or without
// (unaligned) the SIMD alignment of fftwf_malloc. Throws std::bad_alloc
// when FFTW cannot make it. The plan stays valid for the process.
fftwf_plan TransformPlan(TransformKind kind, int rows, int cols, bool aligned);

// While one of these lives, every plan handed out is FFTW's estimate made
// without wisdom: the same algorithm, and so the same rounding, whatever
// this machine has measured. Kernel estimation runs under one, because its
// thresholds turn a last-bit difference into a different kernel, and a
// picture run twice must give the same one. Plans are shared by every
// thread of the process (the engine runs one job at a time).
class FixedTransformPlans {
 public:
  FixedTransformPlans();
  ~FixedTransformPlans();
  FixedTransformPlans(const FixedTransformPlans&) = delete;
  FixedTransformPlans& operator=(const FixedTransformPlans&) = delete;
};

// Seconds of measuring a job on a rows x cols picture may spend while it
// runs: a first run on a new machine stays well below the earlier build's
// time, and later runs measure what is left.
inline constexpr double kJobPlanningSecondsPerMegapixel = 1.0;
double JobPlanningAllowance(int rows, int cols);

// Sets the allowance for the engine call it lives in; the engine is not
// re-entrant, so one allowance holds at a time.
class PlanningAllowance {
 public:
  explicit PlanningAllowance(double seconds);
  ~PlanningAllowance();
  PlanningAllowance(const PlanningAllowance&) = delete;
  PlanningAllowance& operator=(const PlanningAllowance&) = delete;

 private:
  double previous_;
};

// Measures, largest first, the pending plans whose measuring should fit in
// budgetSeconds (about a microsecond per grid point), and saves the wisdom
// gained. Later calls for those sizes get the measured plans.
void MeasurePendingTransforms(double budgetSeconds);

// Saves the wisdom measured so far, measuring nothing more: what a job
// that was stopped calls, so that its measuring is not lost.
void SaveTransformWisdom();

// The planning time a front end spends after a job of jobSeconds: at most
// half the job's own time, and never more than ten seconds.
double PostJobPlanningSeconds(double jobSeconds);

// How many estimated plans wait to be measured.
size_t PendingTransformCount();

// Where wisdom is kept; empty when there is no cache folder to use.
std::string WisdomPath();

// Threads one transform of rows x cols points uses.
int TransformThreads(int rows, int cols);

}  // namespace velmora
