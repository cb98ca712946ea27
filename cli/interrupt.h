// Ctrl-C and SIGTERM while the deblur tool works: the first asks the running
// job to stop (the tool then removes what it staged and exits 128 + the
// signal's number), a second ends the process at once, still removing the
// staging files first. Everything the handler touches is set up beforehand,
// so that it only stores, unlinks and exits, as a signal handler may.
#pragma once

#include "pipeline/job_context.h"

namespace velmora::cli {

// Installs the handlers for SIGINT and SIGTERM; the defaults come back when
// it is destroyed.
class InterruptHandlers {
 public:
  InterruptHandlers();
  ~InterruptHandlers();
  InterruptHandlers(const InterruptHandlers&) = delete;
  InterruptHandlers& operator=(const InterruptHandlers&) = delete;
};

// The signal received so far (SIGINT or SIGTERM), or 0.
int InterruptSignal();

// The context the first signal stops while it is watched; a signal that came
// before stops it at once.
class WatchedJob {
 public:
  explicit WatchedJob(JobContext* context);
  ~WatchedJob();
  WatchedJob(const WatchedJob&) = delete;
  WatchedJob& operator=(const WatchedJob&) = delete;
};

}  // namespace velmora::cli
