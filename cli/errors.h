// How the command-line tools report a refusal: one message and an exit
// status, thrown from wherever the problem is found and printed by main().
#pragma once

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

namespace velmora::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitEstimationFailed = 1;  // blind estimation found no kernel
inline constexpr int kExitBadInput = 2;          // bad usage, bad input, out of memory
inline constexpr int kExitInternal = 3;          // a fault of the program itself

class CliError : public std::runtime_error {
 public:
  // A verbatim message is printed exactly as given (the desktop
  // application's own texts); others get the program's name in front.
  CliError(int exitCode, const std::string& message, bool verbatim = false)
      : std::runtime_error(message), exitCode_(exitCode), verbatim_(verbatim) {}

  int exitCode() const { return exitCode_; }
  bool verbatim() const { return verbatim_; }

 private:
  int exitCode_;
  bool verbatim_;
};

// The usual case: bad usage or bad input, exit status 2.
inline CliError BadInput(const std::string& message) { return CliError(kExitBadInput, message); }

// Runs `work` and turns whatever it throws into the tool's message on
// standard error ("velmora-deblur: ..." or a verbatim text) and its exit
// status; otherwise returns what `work` returns.
int RunReported(const std::function<int()>& work);

// As RunReported, for work on one file: the message is one line naming it,
// "velmora-deblur: 'photo.jpg': Error while opening image file.", unless
// the message names it already. In a batch, or with --quiet and no other
// line printed, that is all that tells which picture failed.
int RunReportedFor(const std::filesystem::path& file, const std::function<int()>& work);

}  // namespace velmora::cli
