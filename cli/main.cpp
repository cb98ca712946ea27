// velmora-deblur: removes camera-shake blur from a photograph, blindly or
// with a known kernel, as the desktop application's Run does; given several,
// restores each in turn into one folder.
#include <opencv2/core/utils/logger.hpp>

#include <cstdio>
#include <new>

#include "cli/batch_command.h"
#include "cli/command_line.h"
#include "cli/deblur_command.h"
#include "cli/errors.h"
#include "cli/interrupt.h"

int main(int argc, char** argv) {
  using namespace velmora::cli;
  try {
    // The tool reports unreadable files in its own words.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    CommandLine line;
    const int early = ParseCommandLine(argc, argv, &line);
    if (early >= 0) return early;
    return RunReported([&] {
      const InterruptHandlers interrupts;
      if (line.outputDir.empty()) return RunDeblurReported(line.request);
      return RunBatch(line.request, line.inputs, line.outputDir);
    });
  } catch (const std::bad_alloc&) {
    // Under an address-space limit barely above what loading the program
    // takes, even reading the command line can fail.
    std::fputs("velmora-deblur: not enough memory to start\n", stderr);
    return kExitBadInput;
  }
}
