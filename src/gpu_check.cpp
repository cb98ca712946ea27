#include "src/gpu_check.h"

#include <cstdio>
#include <mutex>

namespace velmora::gpu {

namespace {

struct Switch {
  std::mutex mutex;
  bool off = false;
  std::string reason;
};

Switch& TheSwitch() {
  static Switch s;
  return s;
}

std::string Format(const char* format, auto... values) {
  const int n = std::snprintf(nullptr, 0, format, values...);
  std::string text(n > 0 ? n : 0, '\0');
  std::snprintf(text.data(), text.size() + 1, format, values...);
  return text;
}

}  // namespace

std::string SafeCallLine(const char* file, int line, int code, const char* text) {
  return Format("%s(%i) : cudaSafeCall() Runtime API error %d: %s.", file, line, code, text);
}

std::string CheckMsgLine(const char* file, int line, const char* message, int code,
                         const char* text) {
  return Format("%s(%i) : cutilCheckMsg() CUTIL CUDA error : %s : (%d) %s.", file, line, message,
                code, text);
}

std::string CufftLine(const char* file, int line, int code, const char* call) {
  return Format("%s(%i) : cuFFT error %d in %s.", file, line, code, call);
}

void Fail(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
  DisableGpu(line);
  throw GpuFault(line);
}

void DisableGpu(const std::string& reason) {
  Switch& s = TheSwitch();
  const std::lock_guard lock(s.mutex);
  if (!s.off) s.reason = reason;  // the first cause is the one worth telling
  s.off = true;
}

bool GpuDisabled() {
  Switch& s = TheSwitch();
  const std::lock_guard lock(s.mutex);
  return s.off;
}

std::string GpuDisabledReason() {
  Switch& s = TheSwitch();
  const std::lock_guard lock(s.mutex);
  return s.reason;
}

void ResetGpuSwitch() {
  Switch& s = TheSwitch();
  const std::lock_guard lock(s.mutex);
  s.off = false;
  s.reason.clear();
}

}  // namespace velmora::gpu
