#include "cli/errors.h"

#include <opencv2/core.hpp>

#include <cstdio>
#include <new>

#include "io/errors.h"

namespace velmora::cli {

namespace {

// The application's texts break their lines for a message box; a line of
// the tool's holds the whole message.
std::string OneLine(const std::string& text) {
  std::string line;
  for (const char c : text) {
    if (c != '\n')
      line += c;
    else if (!line.empty() && line.back() != ' ')
      line += ' ';
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

int Report(const CliError& error, const std::filesystem::path* file) {
  const std::string message = OneLine(error.what());
  if (file) {
    std::string named = file->string();
    named.insert(named.begin(), '\'');
    named.push_back('\'');
    if (message.find(named) == std::string::npos) {
      std::fprintf(stderr, "velmora-deblur: %s: %s\n", named.c_str(), message.c_str());
      return error.exitCode();
    }
  }
  if (error.verbatim())
    std::fprintf(stderr, "%s\n", message.c_str());
  else
    std::fprintf(stderr, "velmora-deblur: %s\n", message.c_str());
  return error.exitCode();
}

int Reported(const std::function<int()>& work, const std::filesystem::path* file) {
  try {
    return work();
  } catch (const CliError& e) {
    return Report(e, file);
  } catch (const io::IoError& e) {
    const bool bad = e.problem() == io::Problem::kBadInput;
    return Report(CliError(bad ? kExitBadInput : kExitInternal, e.what(), e.verbatim()), file);
  } catch (const std::bad_alloc&) {
    return Report(BadInput("not enough memory to deblur this picture"), file);
  } catch (const cv::Exception& e) {
    // OpenCV reports a failed allocation as an exception of its own.
    if (e.code == cv::Error::StsNoMem) return Report(BadInput("not enough memory to deblur this picture"), file);
    return Report(CliError(kExitInternal, std::string("internal error: ") + e.what()), file);
  } catch (const std::exception& e) {
    return Report(CliError(kExitInternal, std::string("internal error: ") + e.what()), file);
  }
}

}  // namespace

int RunReported(const std::function<int()>& work) { return Reported(work, nullptr); }

int RunReportedFor(const std::filesystem::path& file, const std::function<int()>& work) {
  return Reported(work, &file);
}

}  // namespace velmora::cli
