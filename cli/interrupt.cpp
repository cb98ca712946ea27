#include "cli/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace velmora::cli {

namespace {

constexpr int kStagingSlots = 16;
constexpr size_t kPathBytes = 4096;

std::atomic<int> g_signal{0};
std::atomic<JobContext*> g_watched{nullptr};
// A slot's name is written before it is marked used, and read only when
// marked: the handler never sees half a name.
char g_paths[kStagingSlots][kPathBytes];
std::atomic<bool> g_used[kStagingSlots];

struct sigaction g_previous[2];
constexpr int kSignals[2] = {SIGINT, SIGTERM};

extern "C" void OnInterrupt(int signal) {
  int expected = 0;
  if (g_signal.compare_exchange_strong(expected, signal)) {
    if (JobContext* job = g_watched.load()) job->cancel.store(true);
    return;
  }
  // The second: nothing waits for the job any more.
  for (int i = 0; i < kStagingSlots; ++i)
    if (g_used[i].load()) ::unlink(g_paths[i]);
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

bool RegisterStagingFile(const char* path) {
  if (std::strlen(path) >= kPathBytes) return false;
  for (int i = 0; i < kStagingSlots; ++i) {
    if (g_used[i].load()) continue;
    std::strcpy(g_paths[i], path);
    g_used[i].store(true);
    return true;
  }
  return false;
}

void UnregisterStagingFile(const char* path) {
  for (int i = 0; i < kStagingSlots; ++i)
    if (g_used[i].load() && std::strcmp(g_paths[i], path) == 0) g_used[i].store(false);
}

}  // namespace velmora::cli
