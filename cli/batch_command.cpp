#include "cli/batch_command.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <system_error>

#include "cli/errors.h"
#include "cli/interrupt.h"
#include "cli/options.h"

namespace velmora::cli {

namespace fs = std::filesystem;

namespace {

struct Outcome {
  std::string picture;
  std::string result;     // empty: none written
  std::string blurSize;   // the kernel's size, found or given; empty: none
  double seconds = -1;    // negative: not started
  int status = 0;
};

std::string StatusText(const Outcome& o) {
  if (o.seconds < 0) return "skipped";
  switch (o.status) {
    case kExitSuccess: return "0 restored";
    case kExitEstimationFailed: return "1 no kernel found";
    case kExitBadInput: return "2 refused";
    case kExitInternal: return "3 internal error";
    default: return std::to_string(o.status) + " stopped";
  }
}

void PrintSummary(const std::vector<Outcome>& outcomes) {
  std::size_t pictureWidth = std::string("picture").size(), resultWidth = std::string("result").size();
  std::size_t sizeWidth = std::string("blur size").size();
  for (const Outcome& o : outcomes) {
    pictureWidth = std::max(pictureWidth, o.picture.size());
    resultWidth = std::max(resultWidth, o.result.size());
    sizeWidth = std::max(sizeWidth, o.blurSize.size());
  }
  const int pw = static_cast<int>(pictureWidth), rw = static_cast<int>(resultWidth);
  const int sw = static_cast<int>(sizeWidth);
  const auto orDash = [](const std::string& text) { return text.empty() ? "-" : text.c_str(); };
  std::printf("\n%-*s  %-*s  %-*s  %8s  %s\n", pw, "picture", rw, "result", sw, "blur size", "time",
              "exit status");
  int restored = 0, skipped = 0;
  for (const Outcome& o : outcomes) {
    const std::string time = o.seconds < 0 ? "-" : cv::format("%.1f s", o.seconds);
    std::printf("%-*s  %-*s  %-*s  %8s  %s\n", pw, o.picture.c_str(), rw, orDash(o.result), sw,
                orDash(o.blurSize), time.c_str(), StatusText(o).c_str());
    restored += o.seconds >= 0 && o.status == kExitSuccess;
    skipped += o.seconds < 0;
  }
  std::printf("%d of %zu pictures restored", restored, outcomes.size());
  if (skipped > 0) std::printf(", %d skipped after the stop", skipped);
  std::printf("\n");
}

void PrepareFolder(const fs::path& dir) {
  std::error_code error;
  fs::create_directories(dir, error);
  if (!fs::is_directory(dir))
    throw BadInput("cannot use '" + dir.string() + "' as the output folder" +
                   (error ? ": " + error.message() : std::string(": it is not a folder")));
}

// Two pictures of one stem would overwrite each other's kernel, or result.
void CheckDistinctNames(const std::vector<DeblurCommand>& items) {
  std::map<fs::path, const DeblurCommand*> taken;
  for (const DeblurCommand& item : items)
    for (const fs::path& target : {item.output, item.kernelOut}) {
      const auto [where, fresh] = taken.emplace(target.lexically_normal(), &item);
      if (!fresh)
        throw BadInput("'" + where->second->input.string() + "' and '" + item.input.string() +
                       "' would both write '" + target.string() + "'; restore them in separate runs");
    }
}

}  // namespace

DeblurCommand BatchItem(const DeblurCommand& settings, const fs::path& input, const fs::path& outputDir) {
  DeblurCommand item = settings;
  item.input = input;
  item.output = outputDir / (input.stem().string() + "_deblurred" + input.extension().string());
  if (!IsResultFormat(item.output)) item.output.replace_extension(".png");  // read, but not written, by the tool
  item.kernelOut = outputDir / (input.stem().string() + "_kernel.png");
  item.printResult = false;
  return item;
}

int RunBatch(const DeblurCommand& settings, const std::vector<fs::path>& inputs, const fs::path& outputDir) {
  std::vector<DeblurCommand> items;
  for (const fs::path& input : inputs) items.push_back(BatchItem(settings, input, outputDir));
  CheckDistinctNames(items);
  PrepareFolder(outputDir);

  std::vector<Outcome> outcomes;
  int worst = kExitSuccess;
  for (std::size_t i = 0; i < items.size(); ++i) {
    Outcome outcome{items[i].input.string(), {}, {}, -1.0, 0};
    if (InterruptSignal() == 0) {
      const auto start = std::chrono::steady_clock::now();
      RestoredWith used;
      outcome.status = RunDeblurReported(items[i], &used);
      outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (outcome.status == kExitSuccess) {
        outcome.result = items[i].output.string();
        outcome.blurSize = BlurSizeText(used.kernelHeight, used.kernelWidth);
      }
      if (!settings.quiet) {
        std::printf("[%zu/%zu] %s: %.1f s", i + 1, items.size(), outcome.picture.c_str(), outcome.seconds);
        if (outcome.status != kExitSuccess) std::printf(", failed (exit status %d)", outcome.status);
        std::printf("\n");
        std::fflush(stdout);
      }
    } else {
      outcome.status = 128 + InterruptSignal();  // skipped: the user stopped the batch
    }
    worst = std::max(worst, outcome.status);
    outcomes.push_back(outcome);
  }
  if (!settings.quiet) PrintSummary(outcomes);
  return worst;
}

}  // namespace velmora::cli
