#include "cli/errors.h"

#include <opencv2/core.hpp>

#include <cstdio>
#include <new>

#include "io/errors.h"

namespace velmora::cli {

namespace {

int Report(const CliError& error) {
  if (error.verbatim())
    std::fprintf(stderr, "%s\n", error.what());
  else
    std::fprintf(stderr, "velmora-deblur: %s\n", error.what());
  return error.exitCode();
}

}  // namespace

int RunReported(const std::function<int()>& work) {
  try {
    return work();
  } catch (const CliError& e) {
    return Report(e);
  } catch (const io::IoError& e) {
    const bool bad = e.problem() == io::Problem::kBadInput;
    return Report(CliError(bad ? kExitBadInput : kExitInternal, e.what(), e.verbatim()));
  } catch (const std::bad_alloc&) {
    return Report(BadInput("not enough memory to deblur this picture"));
  } catch (const cv::Exception& e) {
    // OpenCV reports a failed allocation as an exception of its own.
    if (e.code == cv::Error::StsNoMem) return Report(BadInput("not enough memory to deblur this picture"));
    return Report(CliError(kExitInternal, std::string("internal error: ") + e.what()));
  } catch (const std::exception& e) {
    return Report(CliError(kExitInternal, std::string("internal error: ") + e.what()));
  }
}

}  // namespace velmora::cli
