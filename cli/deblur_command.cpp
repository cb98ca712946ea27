#include "cli/deblur_command.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "cli/console.h"
#include "cli/errors.h"
#include "cli/interrupt.h"
#include "io/kernel_file.h"
#include "io/picture.h"
#include "io/staged_file.h"
#include "pipeline/progress.h"
#include "src/cuda_device.h"

namespace velmora::cli {

namespace fs = std::filesystem;
using io::EncodePicture;
using io::LoadKernelFile;
using io::ReadPictureWithMetadata;
using io::StagedFile;
using io::WriteFileAtomically;

namespace {

// The desktop program's start-up tests, run only when the GPU was asked
// for. Without a usable GPU the one line that says so goes to stderr.
bool GpuUsableFor(const DeblurRequest& request) {
  if (!request.gpuRequested) return false;
  const char* problem = nullptr;
  std::string cufftProblem;
  if (!gpu::BuiltWithCuda()) {
    problem = "this build has no GPU path";
  } else if (!TestCudaDevice()) {
    problem = "no CUDA device was found";
  } else if (!LoadCufft()) {
    cufftProblem = std::string(gpu::CufftLibraryName()) + " could not be loaded";
    problem = cufftProblem.c_str();
  }
  if (!problem) return true;
  if (!request.quiet) std::fprintf(stderr, "velmora-deblur: warning: %s; running on the CPU\n", problem);
  return false;
}

struct Plan {
  fs::path output;
  cv::Mat picture;
  io::PictureMetadata metadata;  // carried over to the result
  std::string metadataWarning;
  cv::Mat knownKernel;
  BlurSize blur;  // a blind job's size, or its bound, fitted to the picture
};

void Warn(const DeblurRequest& request, const std::string& problem) {
  if (!problem.empty() && !request.quiet) std::fprintf(stderr, "velmora-deblur: warning: %s\n", problem.c_str());
}

// Whether two paths, existing or not, would name the same file.
bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code errorA, errorB;
  const fs::path first = fs::weakly_canonical(fs::absolute(a), errorA);
  const fs::path second = fs::weakly_canonical(fs::absolute(b), errorB);
  if (errorA || errorB) return fs::absolute(a).lexically_normal() == fs::absolute(b).lexically_normal();
  return first == second;
}

Plan Prepare(const DeblurRequest& request) {
  Plan plan;
  plan.output = request.output.empty() ? DefaultOutputPath(request.input) : request.output;
  CheckResultPath(plan.output);
  CheckKernelPicturePath(request.kernelOut);
  if (SameFile(plan.output, request.kernelOut))
    throw BadInput("the result and the kernel picture cannot both be '" + plan.output.string() + "'");
  io::LoadedPicture loaded = ReadPictureWithMetadata(request.input);
  plan.picture = std::move(loaded.pixels);
  plan.metadata = std::move(loaded.metadata);
  plan.metadataWarning = std::move(loaded.metadataWarning);
  if (request.knownKernel) {
    plan.knownKernel = LoadKernelFile(*request.knownKernel);
    if (plan.knownKernel.rows > plan.picture.rows || plan.knownKernel.cols > plan.picture.cols)
      throw BadInput("the kernel '" + request.knownKernel->string() + "' (" +
                     std::to_string(plan.knownKernel.cols) + "x" + std::to_string(plan.knownKernel.rows) +
                     ") is larger than the picture (" + std::to_string(plan.picture.cols) + "x" +
                     std::to_string(plan.picture.rows) + ")");
  } else if (request.region) {
    // A size to find is bounded by the region's own sides: the region is
    // the picture the estimation sees.
    plan.blur = BlurSizeForRegion(request.blurSize, *request.region, plan.picture.rows, plan.picture.cols);
    CheckRegionSize(*request.region, plan.picture.rows, plan.picture.cols, plan.blur);
  } else {
    plan.blur = BlurSizeFor(request.blurSize, plan.picture.rows, plan.picture.cols);
    CheckBlurFitsPicture(plan.blur, plan.picture.rows, plan.picture.cols);
  }
  return plan;
}

DeblurSettings SettingsFor(const DeblurRequest& request, const BlurSize& blur, bool gpuUsable) {
  DeblurSettings settings;
  settings.useCpu = !gpuUsable;
  settings.kernelHeight = blur.height;
  settings.kernelWidth = blur.width;
  settings.gamma = request.gamma;
  settings.smoothness = request.smoothness;
  settings.reduceRinging = request.reduceRinging ? 1 : 0;
  settings.reduceNoise = request.reduceNoise ? 1 : 0;
  return settings;
}

// Runs one mode of the job on a worker thread, as the desktop page does,
// polling the progress cell every 100 ms. Returns the job's status.
int RunMode(DeblurJob& job, const char* mode, ProgressCell& cell, const DeblurRequest& request,
            const char* label) {
  job.mode = mode;
  WriteProgress(&cell, -1.0f);
  ProgressBar bar(label, !request.quiet && StandardErrorIsTerminal());
  // The engine's lines go to standard output only when asked for.
  if (request.engineLog)
    job.context.log = [](const char* line) {
      std::fputs(line, stdout);
      std::fflush(stdout);
    };
  else
    job.context.log = [](const char*) {};
  const WatchedJob watch(&job.context);
  std::packaged_task<void()> task([&job] { job.Run(); });
  std::future<void> done = task.get_future();
  {
    std::jthread worker;
    try {
      worker = std::jthread(std::move(task));
    } catch (const std::system_error&) {
      throw BadInput("not enough memory to start the worker thread");
    }
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
      bar.Show(ReadProgress(&cell));
  }
  done.get();  // an unexpected exception of the job surfaces here
  // The engine's last value is just short of 100; a finished job is whole.
  bar.Show(job.status == kJobSucceeded ? 100.0f : ReadProgress(&cell));
  return job.status;
}

// Turns a job status other than success into the tool's answer.
void CheckStatus(int status, const DeblurJob& job) {
  switch (status) {
    case kJobSucceeded:
      return;
    case kJobEstimationFailed:
      throw CliError(kExitEstimationFailed, kInsufficientInformation, true);
    case kJobOutOfMemory:
      if (!job.memoryShortfall.empty())  // refused before it started
        throw BadInput("not enough memory: this picture " + job.memoryShortfall);
      throw BadInput("not enough memory to deblur this picture");  // the job caught it
    case kJobCancelled:
      throw CliError(128 + (InterruptSignal() != 0 ? InterruptSignal() : SIGINT), "cancelled");
    case kJobGpuFailed:
      throw CliError(kExitInternal, "the GPU failed during the job (" + job.processorNotice +
                                        "); run again without --gpu to use the CPU");
    case kJobInvalidInput:
      if (job.mode == kModePartial) throw CliError(kExitBadInput, kRegionTooSmall, true);
      throw BadInput("the engine refused the picture, the kernel or the settings");
    default:
      throw CliError(kExitInternal, "the job ended with the unexpected status " + std::to_string(status));
  }
}

}  // namespace

int RunDeblur(const DeblurRequest& request, RestoredWith* restoredWith) {
  const Plan plan = Prepare(request);
  Warn(request, plan.metadataWarning);
  const bool gpuUsable = GpuUsableFor(request);

  ProgressCell cell = -1.0f;
  DeblurJob job(SettingsFor(request, plan.blur, gpuUsable), &cell);
  job.options.estimator = request.estimator;
  job.options.highlights = request.highlights;
  const bool findSize = !request.knownKernel && plan.blur.find;
  job.options.findBlurSize = findSize;
  job.input = plan.picture;
  // The job writes the kernel picture under a temporary name: it appears
  // under its own name only once whole.
  StagedFile kernelPicture(request.kernelOut);
  kernelPicture.Close();
  job.kernelPath = kernelPicture.temporary().string();

  float seconds = 0.0f;  // engine calls only, summed over the modes run
  std::string toldNotice;  // a notice is told once, not once per mode
  auto run = [&](const char* mode, const char* label) {
    const int status = RunMode(job, mode, cell, request, label);
    seconds += job.seconds;
    if (status != kJobGpuFailed && !job.processorNotice.empty() &&
        job.processorNotice != toldNotice && !request.quiet)
      std::fprintf(stderr, "velmora-deblur: warning: %s\n", job.processorNotice.c_str());
    toldNotice = job.processorNotice;
    return status;
  };
  int status = kJobNoMode;
  if (request.knownKernel) {
    job.UseKnownKernel(plan.knownKernel);
    status = run(kModeRemaining, "Deblurring");
  } else if (request.region) {
    job.region = *request.region;
    status = run(kModePartial, "Deblurring the region");
    if (status == kJobSucceeded && request.whole)
      status = run(kModeRemaining, "Deblurring the whole picture");
  } else {
    status = run(kModeComplete, "Deblurring");
  }
  if (status == kJobEstimationFailed && kernelPicture.HasContent()) kernelPicture.Commit();
  CheckStatus(status, job);

  const std::string format = plan.output.extension().string();
  std::string metadataProblem;
  WriteFileAtomically(plan.output, plan.metadata.AddTo(EncodePicture(job.result, format), format, &metadataProblem));
  Warn(request, metadataProblem);
  if (kernelPicture.HasContent())
    kernelPicture.Commit();
  else
    std::fprintf(stderr, "velmora-deblur: warning: could not write the kernel picture '%s'\n",
                 request.kernelOut.string().c_str());
  // The size found is that of the region's kernel, which a --whole run
  // reuses: job.kernel has it either way.
  const RestoredWith used{job.kernel.rows, job.kernel.cols, findSize};
  if (restoredWith) *restoredWith = used;
  if (!request.quiet && request.printResult) {
    std::printf("Running time %.3fs\n", seconds);
    if (used.sizeFound) std::printf("Blur size found: %s\n", BlurSizeText(used.kernelHeight, used.kernelWidth).c_str());
    std::printf("Saved %s\n", plan.output.string().c_str());
  }
  return kExitSuccess;
}

int RunDeblurReported(const DeblurRequest& request, RestoredWith* restoredWith) {
  return RunReportedFor(request.input, [&] { return RunDeblur(request, restoredWith); });
}

}  // namespace velmora::cli
