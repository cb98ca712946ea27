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
#include "frontend/job_fit.h"
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
bool GpuUsableFor(const DeblurCommand& request) {
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

void Warn(const DeblurCommand& request, const std::string& problem) {
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

Plan Prepare(const DeblurCommand& request) {
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

// The engine's request for the command: the whole picture, the region
// (then the whole), or the known kernel.
velmora::DeblurRequest EngineRequestFor(const DeblurCommand& command, const Plan& plan, bool gpuUsable) {
  velmora::DeblurRequest q;
  q.mode = command.knownKernel ? DeblurMode::kKnownKernel
           : !command.region   ? DeblurMode::kWhole
           : command.whole     ? DeblurMode::kRegionThenWhole
                               : DeblurMode::kRegion;
  q.estimator = command.estimator;
  q.processor = gpuUsable ? Processor::kGpu : Processor::kCpu;
  q.blurHeight = plan.blur.height;
  q.blurWidth = plan.blur.width;
  q.findBlurSize = !command.knownKernel && plan.blur.find;
  q.gamma = command.gamma;
  q.smoothness = command.smoothness;
  q.reduceRinging = command.reduceRinging;
  q.reduceNoise = command.reduceNoise;
  q.highlights = command.highlights;
  if (command.region) q.region = *command.region;
  q.knownKernel = plan.knownKernel;
  return q;
}

const char* ProgressLabel(DeblurMode mode) {
  switch (mode) {
    case DeblurMode::kRegion: return "Deblurring the region";
    case DeblurMode::kRegionThenWhole: return "Deblurring the region, then the whole picture";
    default: return "Deblurring";
  }
}

// Runs the job on a worker thread, as the desktop page does, polling the
// progress every 100 ms; Ctrl-C and SIGTERM stop it through its context.
DeblurOutcome RunJob(const velmora::DeblurRequest& q, const cv::Mat& picture, const DeblurCommand& command) {
  ProgressCell cell = -1.0f;
  ProgressBar bar(ProgressLabel(q.mode), !command.quiet && StandardErrorIsTerminal());
  JobContext context;
  // The engine's lines go to standard output only when asked for.
  if (command.engineLog)
    context.log = [](const char* line) {
      std::fputs(line, stdout);
      std::fflush(stdout);
    };
  else
    context.log = [](const char*) {};
  const WatchedJob watch(&context);
  std::packaged_task<DeblurOutcome()> task([&] { return RunRequest(q, picture, &context, &cell); });
  std::future<DeblurOutcome> done = task.get_future();
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
  DeblurOutcome outcome = done.get();
  // The engine's last value is just short of 100; a finished job is whole.
  bar.Show(outcome.result == DeblurResult::kSucceeded ? 100.0f : ReadProgress(&cell));
  TransformsAfterJob(outcome.result, outcome.seconds);
  return outcome;
}

// Turns an outcome other than success into the tool's answer: the
// front ends' words, the tool's exit statuses.
void CheckOutcome(const DeblurOutcome& outcome, const velmora::DeblurRequest& request) {
  const std::string problem = OutcomeProblem(request, outcome);
  switch (outcome.result) {
    case DeblurResult::kSucceeded:
      return;
    case DeblurResult::kEstimationFailed:
      throw CliError(kExitEstimationFailed, problem, true);
    case DeblurResult::kOutOfMemory:
      throw BadInput(problem);
    case DeblurResult::kCancelled:
      throw CliError(128 + (InterruptSignal() != 0 ? InterruptSignal() : SIGINT), problem);
    case DeblurResult::kGpuFailed:
      throw CliError(kExitInternal, "the GPU failed during the job (" + outcome.notices.back() +
                                        "); run again without --gpu to use the CPU");
    case DeblurResult::kInvalidInput:
      if (problem == kRegionTooSmall) throw CliError(kExitBadInput, problem, true);
      throw BadInput(problem);
    case DeblurResult::kInternalError:
      break;
  }
  throw CliError(kExitInternal, problem);
}

}  // namespace

int RunDeblur(const DeblurCommand& request, RestoredWith* restoredWith) {
  const Plan plan = Prepare(request);
  Warn(request, plan.metadataWarning);
  const bool gpuUsable = GpuUsableFor(request);

  // The kernel picture is written under a temporary name: it appears
  // under its own name only once whole.
  StagedFile kernelPicture(request.kernelOut);
  kernelPicture.Close();
  const velmora::DeblurRequest engineRequest = EngineRequestFor(request, plan, gpuUsable);
  const DeblurOutcome outcome = RunJob(engineRequest, plan.picture, request);
  // Notices are told, once each, even when the job failed; a failed GPU is
  // told by the failure itself.
  std::string told;
  for (const std::string& notice : outcome.notices) {
    if (request.quiet || outcome.result == DeblurResult::kGpuFailed || notice == told) continue;
    std::fprintf(stderr, "velmora-deblur: warning: %s\n", notice.c_str());
    told = notice;
  }
  // A failed estimation leaves a record of what it reached.
  if (outcome.result != DeblurResult::kCancelled && !outcome.kernel.empty())
    WriteKernelPicture(outcome.kernel, kernelPicture.temporary().string());
  if (outcome.result == DeblurResult::kEstimationFailed && kernelPicture.HasContent()) kernelPicture.Commit();
  CheckOutcome(outcome, engineRequest);

  const std::string format = plan.output.extension().string();
  std::string metadataProblem;
  WriteFileAtomically(plan.output, plan.metadata.AddTo(EncodePicture(outcome.picture, format), format, &metadataProblem));
  Warn(request, metadataProblem);
  if (kernelPicture.HasContent())
    kernelPicture.Commit();
  else
    std::fprintf(stderr, "velmora-deblur: warning: could not write the kernel picture '%s'\n",
                 request.kernelOut.string().c_str());
  // The size found is that of the region's kernel, which a --whole run
  // reuses: the outcome's kernel has it either way.
  const RestoredWith used{outcome.kernel.rows, outcome.kernel.cols, engineRequest.findBlurSize};
  if (restoredWith) *restoredWith = used;
  if (!request.quiet && request.printResult) {
    std::printf("Running time %.3fs\n", outcome.seconds);
    if (used.sizeFound) std::printf("Blur size found: %s\n", BlurSizeText(used.kernelHeight, used.kernelWidth).c_str());
    std::printf("Saved %s\n", plan.output.string().c_str());
  }
  return kExitSuccess;
}

int RunDeblurReported(const DeblurCommand& request, RestoredWith* restoredWith) {
  return RunReportedFor(request.input, [&] { return RunDeblur(request, restoredWith); });
}

}  // namespace velmora::cli
