// Running the built velmora-deblur from tests: a scratch folder removed
// afterwards, small file helpers, and a run of the tool with its exit status
// and both output streams.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace velmora::testing {

namespace fs = std::filesystem;

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "velmora-cli-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("no scratch folder");
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

inline std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// The kernel as a 16-bit picture, largest tap 65535, as velmora-shake writes it.
inline void WriteKernel16(const cv::Mat& kernel, const fs::path& path) {
  double top = 0.0;
  cv::minMaxLoc(kernel, nullptr, &top);
  cv::Mat picture;
  kernel.convertTo(picture, CV_16U, 65535.0 / top);
  ASSERT_TRUE(cv::imwrite(path.string(), picture));
}

inline std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

struct ToolRun {
  int status = -1;
  std::string out, err;
};

// Runs the built tool with the scratch folder as working directory; launch
// is the shell text that starts it.
inline ToolRun RunTool(const ScratchFolder& folder, const std::vector<std::string>& args,
                const std::string& launch = Quote(VELMORA_DEBLUR_PATH)) {
  std::string command = "cd " + Quote(folder.path().string()) + " && " + launch;
  for (const std::string& a : args) {
    command += ' ';
    command += Quote(a);
  }
  const fs::path out = fs::temp_directory_path() / ("velmora-cli-out-" + std::to_string(::getpid()));
  const fs::path err = out.string() + ".err";
  command += " >" + Quote(out.string()) + " 2>" + Quote(err.string()) + " </dev/null";
  const int raw = std::system(command.c_str());
  ToolRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  run.out = ReadText(out);
  run.err = ReadText(err);
  fs::remove(out);
  fs::remove(err);
  return run;
}

}  // namespace velmora::testing
