#include "pipeline/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace velmora {

namespace {

// Concurrent planes multiply the scratch memory; beyond this budget the
// planes run one after another so that huge pictures still fit.
constexpr size_t kConcurrentScratchBudget = size_t{2} << 30;

}  // namespace

void ForEachPlane(int planes, size_t bytesPerPlane, const std::function<void(int)>& task) {
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  int workers = std::min(planes, cores);
  while (workers > 1 && static_cast<size_t>(workers) * bytesPerPlane > kConcurrentScratchBudget) --workers;
  if (workers <= 1) {
    for (int p = 0; p < planes; ++p) task(p);
    return;
  }
  std::atomic<int> next{0};
  std::exception_ptr failure;
  std::mutex failureLock;
  auto work = [&] {
    for (int p = next++; p < planes; p = next++) {
      try {
        task(p);
      } catch (...) {
        std::lock_guard<std::mutex> lock(failureLock);
        if (!failure) failure = std::current_exception();
        next = planes;  // stop handing out planes
      }
    }
  };
  std::vector<std::thread> threads;
  for (int w = 1; w < workers; ++w) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads than hoped: the loop below still covers every plane
    }
  }
  work();
  for (std::thread& t : threads) t.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace velmora
