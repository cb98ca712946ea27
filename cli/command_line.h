// The command line of velmora-deblur: its options, their checks, and the
// work they ask for, without doing it.
#pragma once

#include <filesystem>
#include <vector>

#include "cli/deblur_command.h"

namespace velmora::cli {

struct CommandLine {
  DeblurCommand request;  // its input is the first picture
  std::vector<std::filesystem::path> inputs;
  std::filesystem::path outputDir;  // empty: one picture, written to request.output
};

// Parses and checks argv into *line. Returns -1 when there is work to do;
// otherwise the exit status, having printed what the user asked for
// (--help, --version) or the problem on standard error.
int ParseCommandLine(int argc, const char* const* argv, CommandLine* line);

}  // namespace velmora::cli
