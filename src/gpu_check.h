// How the GPU modules report a failed runtime call, transform or launch: the
// line of the check goes to standard error, the GPU path is switched off for
// the rest of the process, and GpuFault ends the job (never the program).
// The job's buffers are owned by holders, so unwinding frees them.
#pragma once

#include <stdexcept>
#include <string>

namespace velmora::gpu {

class GpuFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The check lines, without their final newline.
std::string SafeCallLine(const char* file, int line, int code, const char* text);
std::string CheckMsgLine(const char* file, int line, const char* message, int code,
                         const char* text);
std::string CufftLine(const char* file, int line, int code, const char* call);

// Prints line (plus a newline) to standard error, switches the GPU path off
// and throws GpuFault(line).
[[noreturn]] void Fail(const std::string& line);

// The process-wide switch of the GPU path: once off (a fault, a failed
// self-check) every later job runs on the CPU. reason is kept for messages.
void DisableGpu(const std::string& reason);
bool GpuDisabled();
std::string GpuDisabledReason();
// For tests: switches the path on again.
void ResetGpuSwitch();

}  // namespace velmora::gpu
