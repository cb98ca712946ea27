// Test support: the engine's diagnostic lines of one call, collected through
// a job context's sink rather than by capturing standard output.
#pragma once

#include <string>

#include "pipeline/job_context.h"

namespace velmora::testing_support {

template <typename Body>
std::string EngineLines(Body body) {
  JobContext context;
  std::string lines;
  context.log = [&lines](const char* line) { lines += line; };
  const JobContextScope scope(&context);
  body();
  return lines;
}

}  // namespace velmora::testing_support
