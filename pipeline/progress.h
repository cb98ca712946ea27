// The progress cell is written by the engine on the worker thread and read by
// the user interface on a timer. Both sides go through these two functions:
// relaxed atomic access keeps the plain-float interface without a data race.
#pragma once

#include <atomic>

#include "pipeline/engine_types.h"

inline void WriteProgress(ProgressCell* cell, float value) {
  if (cell) std::atomic_ref<float>(*cell).store(value, std::memory_order_relaxed);
}

// Writes value unless the cell already holds more: concurrent stages of one
// call then never move the bar backwards.
inline void RaiseProgress(ProgressCell* cell, float value) {
  if (!cell) return;
  std::atomic_ref<float> ref(*cell);
  float current = ref.load(std::memory_order_relaxed);
  while (current < value && !ref.compare_exchange_weak(current, value, std::memory_order_relaxed)) {
  }
}

inline float ReadProgress(ProgressCell* cell) {
  return cell ? std::atomic_ref<float>(*cell).load(std::memory_order_relaxed) : -1.0f;
}
