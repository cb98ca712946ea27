// How the picture library reports a refusal: one message, and what kind of
// problem it is, so that each front end answers in its own way (the
// command-line tool with an exit status, the application with a box).
#pragma once

#include <stdexcept>
#include <string>

namespace velmora::io {

enum class Problem {
  kBadInput,  // the file, its contents or the name given cannot be used
  kInternal,  // a fault of the program itself
};

class IoError : public std::runtime_error {
 public:
  // A verbatim message is shown exactly as given (the application's own
  // texts); others get the front end's prefix.
  IoError(Problem problem, const std::string& message, bool verbatim = false)
      : std::runtime_error(message), problem_(problem), verbatim_(verbatim) {}
  // One of the library's marked texts (translatable.h), shown verbatim.
  IoError(Problem problem, const char* markedText)
      : std::runtime_error(markedText), problem_(problem), verbatim_(true), markedText_(markedText) {}

  Problem problem() const { return problem_; }
  bool verbatim() const { return verbatim_; }
  // The marked text this error carries, or null: what the application
  // translates.
  const char* markedText() const { return markedText_; }

 private:
  Problem problem_;
  bool verbatim_;
  const char* markedText_ = nullptr;
};

inline IoError BadFile(const std::string& message) { return IoError(Problem::kBadInput, message); }

}  // namespace velmora::io
