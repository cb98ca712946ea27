#include "cli/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "io/staged_file.h"

namespace velmora::cli {

namespace {

std::atomic<int> g_signal{0};
std::atomic<JobContext*> g_watched{nullptr};

struct sigaction g_previous[2];
constexpr int kSignals[2] = {SIGINT, SIGTERM};

extern "C" void OnInterrupt(int signal) {
  const int savedErrno = errno;  // the interrupted code may be about to read it
  int expected = 0;
  if (g_signal.compare_exchange_strong(expected, signal)) {
    if (JobContext* job = g_watched.load()) job->cancel.store(true);
    errno = savedErrno;
    return;
  }
  // The second: nothing waits for the job any more.
  io::RemoveStagingFilesNow();
  errno = savedErrno;
  ::_exit(128 + g_signal.load());
}

}  // namespace

InterruptHandlers::InterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 2; ++i) ::sigaction(kSignals[i], &action, &g_previous[i]);
}

InterruptHandlers::~InterruptHandlers() {
  for (int i = 0; i < 2; ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
}

int InterruptSignal() { return g_signal.load(); }

WatchedJob::WatchedJob(JobContext* context) {
  g_watched.store(context);
  if (g_signal.load() != 0) context->cancel.store(true);
}

WatchedJob::~WatchedJob() { g_watched.store(nullptr); }

}  // namespace velmora::cli
