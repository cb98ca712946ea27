// Test support: watches a progress cell from another thread, as the user
// interface does, and keeps every distinct value it sees in order.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "pipeline/progress.h"

namespace velmora::testing_support {

class ProgressRecorder {
 public:
  explicit ProgressRecorder(ProgressCell* cell)
      : cell_(cell), thread_([this] { Watch(); }) {}
  ProgressRecorder(const ProgressRecorder&) = delete;
  ProgressRecorder& operator=(const ProgressRecorder&) = delete;
  ~ProgressRecorder() { Stop(); }

  // Ends the watch and returns what was seen.
  const std::vector<float>& Stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
  }

 private:
  void Watch() {
    while (!done_.load()) {
      const float v = ReadProgress(cell_);
      if (seen_.empty() || seen_.back() != v) seen_.push_back(v);
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  }

  ProgressCell* cell_;
  std::atomic<bool> done_{false};
  std::vector<float> seen_;
  std::thread thread_;  // last: starts once the rest is built
};

}  // namespace velmora::testing_support
