#include "pipeline/plan_cache.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <sstream>
#include <string>
#include <tuple>
#include <thread>
#include <utility>
#include <vector>

#include "pipeline/job_context.h"
#include "pipeline/parallel.h"
#include "pipeline/staged_write.h"

namespace velmora {

namespace {

// Grids from this many points on are measured during a job, while its
// planning allowance lasts: estimated plans of them run up to 2.5 times
// slower, and they are the transforms a job spends its time in.
constexpr double kMeasureNowPoints = 1.0e6;
// Credit for measuring is saved up to this many seconds.
constexpr double kCreditCap = 60.0;

// What measuring a plan of a grid costs, roughly: FFTW tries the candidate
// algorithms one after another, so the cost grows with the grid but less
// than in proportion (a fit of measured planning times: 1.2 s for 1.3
// million points, 5.4 s for 12.6 million, on two cores). A time limit would
// not help: the good plans of large grids are only found after seconds.
double PlanningCost(double points) { return 2.8e-4 * std::pow(points, 0.6); }
// Below this many points a transform is too short to share between threads.
constexpr double kThreadedPoints = 65536;

struct PlanKey {
  TransformKind kind;
  int rows, cols;
  bool aligned;
  bool fixed = false;  // planned by FFTW's estimate alone, never measured
  bool operator==(const PlanKey& o) const {
    return std::tie(kind, rows, cols, aligned, fixed) == std::tie(o.kind, o.rows, o.cols, o.aligned, o.fixed);
  }
  bool operator<(const PlanKey& o) const {
    return std::tie(kind, rows, cols, aligned, fixed) < std::tie(o.kind, o.rows, o.cols, o.aligned, o.fixed);
  }
  double points() const { return static_cast<double>(rows) * cols; }
};

// fftwf_malloc'ed scratch that planning may overwrite.
struct Scratch {
  void* in = nullptr;
  void* out = nullptr;
  explicit Scratch(size_t inBytes, size_t outBytes)
      : in(fftwf_malloc(std::max<size_t>(inBytes, 16))), out(fftwf_malloc(std::max<size_t>(outBytes, 16))) {}
  ~Scratch() {
    fftwf_free(in);
    fftwf_free(out);
  }
  bool ok() const { return in && out; }
};

// FFTW ends the process when one of its own allocations fails. Its planner
// is therefore entered only when this much more than the transform's arrays
// can still be allocated: its tables and plans stay well below that.
constexpr size_t kPlannerSlackBytes = size_t{24} << 20;

// Whether `bytes` could be allocated now (under an address-space limit, say).
bool Headroom(size_t bytes) {
  void* probe = std::malloc(bytes);
  std::free(probe);
  return probe != nullptr;
}

// The saved credit lives beside the wisdom.
std::string CreditPath() {
  const std::string wisdom = WisdomPath();
  if (wisdom.empty()) return wisdom;
  return (std::filesystem::path(wisdom).parent_path() / "planning-credit").string();
}

class PlanCache {
 public:
  fftwf_plan Get(const PlanKey& key);
  void MeasurePending(double budgetSeconds);
  double SetAllowance(double seconds) {
    std::lock_guard<std::mutex> guard(lock_);
    return std::exchange(allowance_, seconds);
  }
  void Save() {
    std::lock_guard<std::mutex> guard(lock_);
    SaveWisdom();
  }
  // Ends a scope of fixed plans: the wisdom set aside comes back.
  void RestoreWisdom();
  size_t PendingCount() {
    std::lock_guard<std::mutex> guard(lock_);
    return pending_.size();
  }

 private:
  void Initialise();
  // watchForStop: the caller is a job's thread, which stops rather than wait
  // long for the planner while its job is asked to stop.
  fftwf_plan Make(const PlanKey& key, unsigned flags, bool watchForStop = false);
  // The key's plan from FFTW's estimate with the wisdom set aside: the
  // planner would otherwise take a measured algorithm from it, and which one
  // depends on what this machine has measured so far.
  fftwf_plan MakeFixed(const PlanKey& key, bool watchForStop);
  fftwf_plan Plan(const PlanKey& key, unsigned flags);
  void SaveWisdom();
  double ReadCredit() const;
  void WriteCredit(double seconds) const;

  // Measures key on a thread of its own while the job's thread waits and
  // watches for a request to stop; on one it leaves the measuring to finish
  // (and be kept) in the background and stops the job. Called with lock_.
  fftwf_plan MeasureWatchingForStop(const PlanKey& key);

  std::mutex lock_;
  // The planner serves one caller at a time, lock_'s holder or a
  // measurement left to finish after its job stopped.
  std::mutex plannerLock_;
  bool initialised_ = false;
  bool wisdomChanged_ = false;
  double allowance_ = 0.0;  // seconds of measuring the running job may still spend
  std::map<PlanKey, fftwf_plan> plans_;
  std::vector<PlanKey> pending_;
  // Replaced plans may still run on another thread: they are kept.
  std::vector<fftwf_plan> retired_;
  // The wisdom while fixed plans are made without it, else null.
  char* wisdomAside_ = nullptr;
};

PlanCache& Cache() {
  static PlanCache* cache = new PlanCache;  // lives as long as the plans it hands out
  return *cache;
}

size_t ComplexBytes(size_t n) { return n * sizeof(fftwf_complex); }

void PlanCache::Initialise() {
  if (initialised_) return;
  if (!Headroom(kPlannerSlackBytes)) throw std::bad_alloc();
  initialised_ = true;
#ifdef _OPENMP
  fftwf_init_threads();
#endif
  const std::string path = WisdomPath();
  if (!path.empty()) fftwf_import_wisdom_from_filename(path.c_str());  // none yet is fine
}

void LockPlanner(std::mutex& planner, bool watchForStop) {
  // A measurement a stopped job left behind may hold the planner for long.
  while (!planner.try_lock()) {
    if (watchForStop && StopRequested()) Checkpoint();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

fftwf_plan PlanCache::Make(const PlanKey& key, unsigned flags, bool watchForStop) {
  LockPlanner(plannerLock_, watchForStop);
  std::lock_guard<std::mutex> planner(plannerLock_, std::adopt_lock);
  return Plan(key, flags);
}

fftwf_plan PlanCache::MakeFixed(const PlanKey& key, bool watchForStop) {
  LockPlanner(plannerLock_, watchForStop);
  std::lock_guard<std::mutex> planner(plannerLock_, std::adopt_lock);
  if (!Headroom(kPlannerSlackBytes)) return nullptr;
  // Set aside once per scope (a copy and a parse of the whole wisdom per
  // plan would cost more than the plans).
  if (!wisdomAside_) {
    wisdomAside_ = fftwf_export_wisdom_to_string();
    if (!wisdomAside_) return nullptr;
    fftwf_forget_wisdom();
  }
  return Plan(key, FFTW_ESTIMATE);
}

void PlanCache::RestoreWisdom() {
  std::lock_guard<std::mutex> guard(lock_);
  std::lock_guard<std::mutex> planner(plannerLock_);
  if (!wisdomAside_) return;
  // The estimates' own wisdom goes: it must not stand in for a measured plan.
  fftwf_forget_wisdom();
  fftwf_import_wisdom_from_string(wisdomAside_);
  fftwf_free(wisdomAside_);
  wisdomAside_ = nullptr;
}

// Called with plannerLock_.
fftwf_plan PlanCache::Plan(const PlanKey& key, unsigned flags) {
  const size_t n = static_cast<size_t>(key.rows) * key.cols;
  const size_t half = static_cast<size_t>(key.rows) * (key.cols / 2 + 1);
  const bool real = key.kind == TransformKind::kRealForward || key.kind == TransformKind::kRealInverse ||
                    key.kind == TransformKind::kRealLineForward ||
                    key.kind == TransformKind::kRealLineInverse;
  const size_t arrayBytes = real ? std::max(n * sizeof(float), ComplexBytes(half)) : ComplexBytes(n);
  Scratch scratch(arrayBytes, arrayBytes);
  if (!scratch.ok() || !Headroom(arrayBytes + kPlannerSlackBytes)) return nullptr;
  if (!key.aligned) flags |= FFTW_UNALIGNED;
#ifdef _OPENMP
  fftwf_plan_with_nthreads(TransformThreads(key.rows, key.cols));
#endif
  auto* cin = static_cast<fftwf_complex*>(scratch.in);
  auto* cout = static_cast<fftwf_complex*>(scratch.out);
  switch (key.kind) {
    case TransformKind::kComplexForward:
      return fftwf_plan_dft_2d(key.rows, key.cols, cin, cout, FFTW_FORWARD, flags);
    case TransformKind::kComplexInverse:
      return fftwf_plan_dft_2d(key.rows, key.cols, cin, cout, FFTW_BACKWARD, flags);
    case TransformKind::kRealForward:
      return fftwf_plan_dft_r2c_2d(key.rows, key.cols, static_cast<float*>(scratch.in), cout, flags);
    case TransformKind::kRealInverse:
      return fftwf_plan_dft_c2r_2d(key.rows, key.cols, cin, static_cast<float*>(scratch.out), flags);
    case TransformKind::kLineForward:
      return fftwf_plan_dft_1d(key.cols, cin, cout, FFTW_FORWARD, flags);
    case TransformKind::kLineInverse:
      return fftwf_plan_dft_1d(key.cols, cin, cout, FFTW_BACKWARD, flags);
    case TransformKind::kRealLineForward:
      return fftwf_plan_dft_r2c_1d(key.cols, static_cast<float*>(scratch.in), cout, flags);
    case TransformKind::kRealLineInverse:
      return fftwf_plan_dft_c2r_1d(key.cols, cin, static_cast<float*>(scratch.out), flags);
  }
  return nullptr;
}

fftwf_plan PlanCache::Get(const PlanKey& key) {
  std::lock_guard<std::mutex> guard(lock_);
  if (auto it = plans_.find(key); it != plans_.end()) return it->second;
  Initialise();
  const bool watch = JobContextCurrent();
  if (key.fixed) {
    const fftwf_plan plan = MakeFixed(key, watch);
    if (!plan) throw std::bad_alloc();
    plans_.emplace(key, plan);
    return plan;
  }
  fftwf_plan plan = Make(key, FFTW_MEASURE | FFTW_WISDOM_ONLY, watch);
  if (!plan && key.points() >= kMeasureNowPoints && PlanningCost(key.points()) <= allowance_) {
    const auto start = std::chrono::steady_clock::now();
    plan = watch ? MeasureWatchingForStop(key) : Make(key, FFTW_MEASURE);
    allowance_ -= std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    wisdomChanged_ = wisdomChanged_ || plan;
  }
  if (!plan) {
    plan = Make(key, FFTW_ESTIMATE, watch);
    if (plan) pending_.push_back(key);
  }
  if (!plan) throw std::bad_alloc();
  plans_.emplace(key, plan);
  return plan;
}

fftwf_plan PlanCache::MeasureWatchingForStop(const PlanKey& key) {
  struct Measuring {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false, abandoned = false;
    fftwf_plan plan = nullptr;
  };
  auto state = std::make_shared<Measuring>();
  std::thread([this, key, state] {
    const fftwf_plan plan = Make(key, FFTW_MEASURE);
    {
      std::lock_guard<std::mutex> guard(state->lock);
      if (!state->abandoned) {
        state->plan = plan;
        state->done = true;
        state->finished.notify_one();
        return;
      }
    }
    // Its job stopped meanwhile: keep the plan and its wisdom for the next.
    std::lock_guard<std::mutex> guard(lock_);
    if (!plan) return;
    fftwf_plan& slot = plans_[key];
    if (slot) retired_.push_back(slot);
    slot = plan;
    std::erase(pending_, key);
    wisdomChanged_ = true;
    SaveWisdom();
  }).detach();
  std::unique_lock<std::mutex> wait(state->lock);
  while (!state->done) {
    state->finished.wait_for(wait, std::chrono::milliseconds(20));
    if (!state->done && StopRequested()) {
      state->abandoned = true;
      wait.unlock();
      Checkpoint();  // throws: the job stops
    }
  }
  return state->plan;
}

// Each call's budget adds to the credit saved by earlier calls (and earlier
// runs), so that a plan too costly for one short job is measured once a few
// of them have paid for it.
void PlanCache::MeasurePending(double budgetSeconds) {
  using Clock = std::chrono::steady_clock;
  std::lock_guard<std::mutex> guard(lock_);
  // Measuring is for later runs' speed: with memory this short it waits.
  if (!initialised_ && !Headroom(kPlannerSlackBytes)) return;
  Initialise();
  const Clock::time_point start = Clock::now();
  const double budget = std::max(0.0, budgetSeconds) + ReadCredit();
  std::sort(pending_.begin(), pending_.end(),
            [](const PlanKey& a, const PlanKey& b) { return a.points() > b.points(); });
  std::vector<PlanKey> left;
  for (const PlanKey& key : pending_) {
    // Only plans that should be measured within what is left of the budget.
    const double spent = std::chrono::duration<double>(Clock::now() - start).count();
    if (spent + PlanningCost(key.points()) > budget) {
      left.push_back(key);
      continue;
    }
    fftwf_plan measured = Make(key, FFTW_MEASURE);
    if (!measured) {
      left.push_back(key);
      continue;
    }
    wisdomChanged_ = true;
    fftwf_plan& slot = plans_[key];
    if (slot) retired_.push_back(slot);
    slot = measured;
  }
  pending_ = std::move(left);
  const double spent = std::chrono::duration<double>(Clock::now() - start).count();
  WriteCredit(pending_.empty() ? 0.0 : std::min(kCreditCap, std::max(0.0, budget - spent)));
  SaveWisdom();
}

double PlanCache::ReadCredit() const {
  const std::string path = CreditPath();
  std::ifstream in(path);
  double credit = 0.0;
  if (path.empty() || !(in >> credit) || !std::isfinite(credit)) return 0.0;
  return std::clamp(credit, 0.0, kCreditCap);
}

void PlanCache::WriteCredit(double seconds) const {
  const std::string path = CreditPath();
  if (path.empty()) return;
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
  std::ostringstream text;
  text << seconds << '\n';
  const std::string bytes = text.str();
  WriteStaged(path, std::span(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
}

// Staged: a reader never sees half a file, and a failure leaves the old
// wisdom as it was (and wisdomChanged_ set, for the next save to try again).
void PlanCache::SaveWisdom() {
  // While fixed plans are made, FFTW holds none of the wisdom: later.
  if (!wisdomChanged_ || wisdomAside_) return;
  const std::string path = WisdomPath();
  if (path.empty()) return;
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
  if (!Headroom(kPlannerSlackBytes)) return;  // the old wisdom stays as it was
  char* text = fftwf_export_wisdom_to_string();
  if (!text) return;
  const std::span bytes(reinterpret_cast<const unsigned char*>(text), std::char_traits<char>::length(text));
  const bool written = WriteStaged(path, bytes) == 0;
  fftwf_free(text);
  if (written) wisdomChanged_ = false;
}

}  // namespace

namespace {
std::atomic<int> fixedScopes{0};
}  // namespace

FixedTransformPlans::FixedTransformPlans() { fixedScopes.fetch_add(1); }
FixedTransformPlans::~FixedTransformPlans() {
  if (fixedScopes.fetch_sub(1) == 1) Cache().RestoreWisdom();
}

fftwf_plan TransformPlan(TransformKind kind, int rows, int cols, bool aligned) {
  return Cache().Get({kind, rows, cols, aligned, fixedScopes.load() > 0});
}

void MeasurePendingTransforms(double budgetSeconds) { Cache().MeasurePending(budgetSeconds); }

void SaveTransformWisdom() { Cache().Save(); }

PlanningAllowance::PlanningAllowance(double seconds) : previous_(Cache().SetAllowance(seconds)) {}
PlanningAllowance::~PlanningAllowance() { Cache().SetAllowance(previous_); }

double JobPlanningAllowance(int rows, int cols) {
  return kJobPlanningSecondsPerMegapixel * static_cast<double>(rows) * cols / 1.0e6;
}

double PostJobPlanningSeconds(double jobSeconds) { return std::clamp(0.5 * jobSeconds, 0.0, 10.0); }

size_t PendingTransformCount() { return Cache().PendingCount(); }

std::string WisdomPath() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  std::filesystem::path folder;
  if (cache && *cache) {
    folder = cache;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    folder = std::filesystem::path(home) / ".cache";
  } else {
    return std::string();
  }
  return (folder / "velmora" / "fftw-wisdom").string();
}

int TransformThreads(int rows, int cols) {
  if (static_cast<double>(rows) * cols < kThreadedPoints) return 1;
  // OpenMP's team size (OMP_NUM_THREADS) bounds FFTW's threads too.
  return std::clamp(omp_get_max_threads(), 1, 8);
}

}  // namespace velmora
