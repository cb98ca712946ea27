// velmora-deblur: removes camera-shake blur from one photograph, blindly or
// with a known kernel, as the desktop application's Run does.
#include <CLI/CLI.hpp>

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>

#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "cli/deblur_command.h"
#include "cli/errors.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "io/errors.h"

namespace {

using namespace velmora::cli;

constexpr const char* kProgram = "velmora-deblur";
constexpr const char* kNotEnoughMemory = "not enough memory to deblur this picture";

// The option texts as typed; checked after parsing so that every refusal
// names the problem in the same words.
struct RawOptions {
  std::string blurSize = "small";
  std::string smoothness = "0.04";
  std::string gamma = "1.0";
  std::string estimator = "classic";
  std::string region;
  std::string output, kernelOut = "kernel.png", knownKernel;
  bool cpu = false, gpu = false;
};

void DefineOptions(CLI::App& app, DeblurRequest& request, RawOptions& raw) {
  app.set_version_flag("--version", std::string(kProgram) + " " + VELMORA_VERSION);
  app.add_option("INPUT", request.input, "the blurred photograph (any picture OpenCV reads)")
      ->required();
  app.add_option("-o,--output", raw.output,
                 "result file, .jpg/.jpeg/.png/.bmp/.tif/.tiff (default: <INPUT stem>_deblurred.png beside INPUT)");
  auto* kernel = app.add_option("--kernel", raw.knownKernel,
                                "known blur kernel picture (odd sides): deblur without estimating");
  auto* blur = app.add_option("--blur-size", raw.blurSize,
                              "small (19), medium (31), large (51), odd N from 3 to 121, or HxW (default small)");
  app.add_option("--smoothness", raw.smoothness, "0.00 to 0.20 (default 0.04)");
  app.add_flag("--reduce-ringing", request.reduceRinging, "suppress ringing near strong edges");
  app.add_flag("--reduce-noise", request.reduceNoise, "use the noise-robust solver");
  auto* gamma = app.add_option("--gamma", raw.gamma, "1.0 or 2.2: gamma of the estimation (default 1.0)");
  auto* estimator = app.add_option(
      "--estimator", raw.estimator,
      "classic or sharp: how the kernel is estimated (default classic); sharp often finds long, "
      "thin or faint shakes better and takes up to twice as long");
  auto* region = app.add_option("--region", raw.region,
                                "X,Y,W,H fractions: estimate the kernel on this region and restore only it");
  app.add_flag("--whole", request.whole, "with --region: then restore the whole picture with its kernel")
      ->needs(region);
  app.add_option("--kernel-out", raw.kernelOut, "where the kernel picture goes (default kernel.png)");
  auto* cpu = app.add_flag("--cpu", raw.cpu, "compute on the CPU");
  app.add_flag("--gpu", raw.gpu, "compute on the GPU when usable (falls back to the CPU)")->excludes(cpu);
  auto* quiet = app.add_flag("-q,--quiet", request.quiet, "print nothing but errors");
  app.add_flag("--engine-log", request.engineLog, "show the engine's diagnostic lines on standard output")
      ->excludes(quiet);
  kernel->excludes(blur)->excludes(gamma)->excludes(region)->excludes(estimator);
  app.footer(
      "Exit status: 0 success; 1 the kernel could not be estimated; 2 bad usage, bad input or not "
      "enough memory; 3 an internal error; 130 or 143 stopped by SIGINT or SIGTERM.");
}

void Complete(DeblurRequest& request, const RawOptions& raw) {
  request.output = raw.output;
  request.kernelOut = raw.kernelOut;
  if (!raw.knownKernel.empty()) request.knownKernel = raw.knownKernel;
  request.blurSize = ParseBlurSize(raw.blurSize);
  request.smoothness = ParseSmoothness(raw.smoothness);
  request.gamma = ParseGamma(raw.gamma);
  request.estimator = ParseEstimator(raw.estimator);
  if (!raw.region.empty()) request.region = ParseRegion(raw.region);
  request.gpuRequested = raw.gpu;
}

int Report(const CliError& error) {
  if (error.verbatim())
    std::fprintf(stderr, "%s\n", error.what());
  else
    std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
  return error.exitCode();
}

}  // namespace

int main(int argc, char** argv) {
  // The tool reports unreadable files in its own words.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  CLI::App app{"Removes camera-shake blur from one photograph.", kProgram};
  DeblurRequest request;
  RawOptions raw;
  DefineOptions(app, request, raw);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    std::fprintf(stderr, "%s: %s (see --help)\n", kProgram, e.what());
    return kExitBadInput;
  }
  try {
    Complete(request, raw);
    const InterruptHandlers interrupts;
    return RunDeblur(request);
  } catch (const CliError& e) {
    return Report(e);
  } catch (const velmora::io::IoError& e) {
    const bool bad = e.problem() == velmora::io::Problem::kBadInput;
    return Report(CliError(bad ? kExitBadInput : kExitInternal, e.what(), e.verbatim()));
  } catch (const std::bad_alloc&) {
    return Report(BadInput(kNotEnoughMemory));
  } catch (const cv::Exception& e) {
    // OpenCV reports a failed allocation as an exception of its own.
    if (e.code == cv::Error::StsNoMem) return Report(BadInput(kNotEnoughMemory));
    return Report(CliError(kExitInternal, std::string("internal error: ") + e.what()));
  } catch (const std::exception& e) {
    return Report(CliError(kExitInternal, std::string("internal error: ") + e.what()));
  }
}
