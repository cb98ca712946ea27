#include "cli/command_line.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "cli/errors.h"
#include "cli/options.h"

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "unknown"
#endif

namespace velmora::cli {

namespace {

constexpr const char* kProgram = "velmora-deblur";

// The option texts as typed; checked after parsing so that every refusal
// names the problem in the same words.
struct RawOptions {
  std::string blurSize = "auto";
  std::string smoothness = "0.04";
  std::string gamma = "1.0";
  std::string estimator = "classic";
  std::string highlights = "model";
  std::string region;
  std::vector<std::string> inputs;
  std::string output, outputDir, kernelOut = "kernel.png", knownKernel;
  bool cpu = false, gpu = false;
};

void DefineOptions(CLI::App& app, DeblurCommand& request, RawOptions& raw) {
  app.set_version_flag("--version", std::string(kProgram) + " " + VELMORA_VERSION);
  app.add_option("INPUT", raw.inputs,
                 "the blurred photograph (any picture OpenCV reads); several need --output-dir")
      ->required();
  auto* output = app.add_option(
      "-o,--output", raw.output,
      "result file, .jpg/.jpeg/.png/.bmp/.tif/.tiff (default: <INPUT stem>_deblurred.png beside INPUT)");
  auto* kernel = app.add_option("--kernel", raw.knownKernel,
                                "known blur kernel picture (odd sides): deblur without estimating");
  auto* blur = app.add_option(
      "--blur-size", raw.blurSize,
      "auto (the default: found by the estimation, at most a third of each side of the picture or "
      "region), auto:N or auto:HxW (found, at most N or H x W), small (19), medium (31), large (51), "
      "odd N from 3 to 121, or HxW");
  app.add_option("--smoothness", raw.smoothness, "0.00 to 0.20 (default 0.04)");
  app.add_flag("--reduce-ringing", request.reduceRinging, "suppress ringing near strong edges");
  app.add_flag("--reduce-noise", request.reduceNoise, "use the noise-robust solver");
  auto* gamma = app.add_option("--gamma", raw.gamma, "1.0 or 2.2: gamma of the estimation (default 1.0)");
  auto* estimator = app.add_option(
      "--estimator", raw.estimator,
      "classic or sharp: how the kernel is estimated (default classic); sharp often finds long, "
      "thin or faint shakes better and takes up to twice as long");
  app.add_option("--highlights", raw.highlights,
                 "model (the default) or keep: with model, samples the sensor clipped (lamps, windows at "
                 "night) count as at least that bright, and the estimation leaves them out; keep takes "
                 "them as measured. A picture without clipped samples gives the same result either way");
  auto* region = app.add_option("--region", raw.region,
                                "X,Y,W,H fractions: estimate the kernel on this region and restore only it");
  app.add_flag("--whole", request.whole, "with --region: then restore the whole picture with its kernel")
      ->needs(region);
  auto* kernelOut =
      app.add_option("--kernel-out", raw.kernelOut, "where the kernel picture goes (default kernel.png)");
  app.add_option("--output-dir", raw.outputDir,
                 "restore every INPUT into DIR: DIR/<stem>_deblurred.<INPUT's extension> and "
                 "DIR/<stem>_kernel.png, then print a summary")
      ->excludes(output)
      ->excludes(kernelOut);
  auto* cpu = app.add_flag("--cpu", raw.cpu, "compute on the CPU");
  app.add_flag("--gpu", raw.gpu, "compute on the GPU when usable (falls back to the CPU)")->excludes(cpu);
  auto* quiet = app.add_flag("-q,--quiet", request.quiet, "print nothing but errors");
  app.add_flag("--engine-log", request.engineLog, "show the engine's diagnostic lines on standard output")
      ->excludes(quiet);
  kernel->excludes(blur)->excludes(gamma)->excludes(region)->excludes(estimator);
  app.footer(
      "Exit status: 0 success; 1 the kernel could not be estimated; 2 bad usage, bad input or not "
      "enough memory; 3 an internal error; 130 or 143 stopped by SIGINT or SIGTERM. With several "
      "pictures, the worst of theirs.");
}

void Complete(DeblurCommand& request, const RawOptions& raw) {
  if (raw.inputs.size() > 1 && !raw.output.empty())
    throw BadInput("-o names one result, and " + std::to_string(raw.inputs.size()) +
                   " pictures were given; use --output-dir DIR to restore them all into DIR");
  if (raw.inputs.size() > 1 && raw.outputDir.empty())
    throw BadInput("several pictures need --output-dir DIR, the folder their results go to");
  request.input = raw.inputs.front();
  request.output = raw.output;
  request.kernelOut = raw.kernelOut;
  if (!raw.knownKernel.empty()) request.knownKernel = raw.knownKernel;
  request.blurSize = ParseBlurSize(raw.blurSize);
  request.smoothness = ParseSmoothness(raw.smoothness);
  request.gamma = ParseGamma(raw.gamma);
  request.estimator = ParseEstimator(raw.estimator);
  request.highlights = ParseHighlights(raw.highlights);
  if (!raw.region.empty()) request.region = ParseRegion(raw.region);
  request.gpuRequested = raw.gpu;
}

}  // namespace

int ParseCommandLine(int argc, const char* const* argv, CommandLine* line) {
  CLI::App app{"Removes camera-shake blur from a photograph, or from several into one folder.", kProgram};
  RawOptions raw;
  DefineOptions(app, line->request, raw);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    std::fprintf(stderr, "%s: %s (see --help)\n", kProgram, e.what());
    return kExitBadInput;
  }
  const int refused = RunReported([&] {
    Complete(line->request, raw);
    return -1;
  });
  if (refused >= 0) return refused;
  line->inputs.assign(raw.inputs.begin(), raw.inputs.end());
  line->outputDir = raw.outputDir;
  return -1;
}

}  // namespace velmora::cli
