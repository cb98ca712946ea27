// velmora-shake: blurs a sharp photograph with a generated camera-shake
// kernel, for test pictures whose true kernel is known.
#include <CLI/CLI.hpp>

#include <opencv2/core/utils/logger.hpp>

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "io/errors.h"
#include "io/picture.h"
#include "io/staged_file.h"
#include "tools/night_scene.h"
#include "tools/shake.h"

namespace {

using namespace velmora::io;

constexpr const char* kProgram = "velmora-shake";
constexpr int kExitSuccess = 0, kExitBadInput = 2, kExitInternal = 3;

IoError BadInput(const std::string& message) { return BadFile(message); }

// The blurred picture is a .png, .bmp or .jpg in a folder that exists.
void CheckResultPath(const std::string& output) {
  const std::filesystem::path path(output);
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension != ".png" && extension != ".bmp" && extension != ".jpg" && extension != ".jpeg")
    throw BadInput("cannot write '" + output + "': the blurred picture must be a .png, .bmp or .jpg file");
  const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
  if (!std::filesystem::is_directory(folder))
    throw BadInput("the folder of the blurred picture '" + folder.string() + "' does not exist");
}

struct ShakeRequest {
  std::string input, output, kernelOut;
  int size = 0;
  uint64_t seed = 0;
  double noise = 0.0;
  std::string kind = "hand-held";
  bool night = false;
  double lamps = velmora::tools::LampOptions{}.lampsPerMegapixel;
  double darken = velmora::tools::LampOptions{}.darken;
  std::string sharpOut;  // the night scene as a camera stores it unshaken
};

cv::Mat ReadSharp(const std::string& path) {
  cv::Mat picture;
  try {
    picture = cv::imread(path, cv::IMREAD_COLOR);
  } catch (const cv::Exception&) {
    picture.release();
  }
  if (picture.empty()) throw BadInput("cannot read the picture '" + path + "'");
  cv::Mat unit;
  picture.convertTo(unit, CV_32F, 1.0 / 255.0);
  return unit;
}

// The kernel as 16-bit grey, its largest tap at 65535: the deblur tool
// normalises a kernel file to sum 1 when it reads one.
cv::Mat KernelPicture(const cv::Mat& kernel) {
  double top = 0.0;
  cv::minMaxLoc(kernel, nullptr, &top);
  cv::Mat picture;
  kernel.convertTo(picture, CV_16U, 65535.0 / top);
  return picture;
}

void CheckRequest(const ShakeRequest& r) {
  if (r.size < 3 || r.size % 2 == 0)
    throw BadInput("bad kernel size " + std::to_string(r.size) + ": expected an odd number of at least 3");
  if (!(r.noise >= 0.0) || !std::isfinite(r.noise))
    throw BadInput("bad noise sigma: expected a finite number of at least 0");
  if (r.kind != "hand-held" && r.kind != "sweep")
    throw BadInput("bad kind '" + r.kind + "': expected hand-held or sweep");
  CheckResultPath(r.output);
  if (!r.sharpOut.empty() && !r.night) throw BadInput("--sharp-out goes with --night");
  if (!(r.lamps >= 0.0) || !std::isfinite(r.lamps)) throw BadInput("bad lamp count: expected a finite number of at least 0");
  if (!(r.darken > 0.0 && r.darken <= 1.0)) throw BadInput("bad darkening: expected a share above 0 and at most 1");
  if (!r.sharpOut.empty()) CheckResultPath(r.sharpOut);
  if (r.kernelOut.empty() || std::filesystem::path(r.kernelOut).extension() != ".png")
    throw BadInput("the kernel picture must be a .png file");
}

int Run(const ShakeRequest& r) {
  CheckRequest(r);
  const cv::Mat sharp = ReadSharp(r.input);
  const cv::Mat kernel = velmora::tools::GenerateShakeKernel(
      r.size, r.seed, r.kind == "sweep" ? velmora::tools::ShakeKind::kSweep : velmora::tools::ShakeKind::kHandHeld);
  // The noise stream differs from the trajectory's, yet follows the seed.
  const uint64_t noiseSeed = r.seed ^ 0x9e3779b97f4a7c15ull;
  cv::Mat bytes, sharpBytes;
  if (r.night) {
    velmora::tools::LampOptions lampOptions;
    lampOptions.lampsPerMegapixel = r.lamps;
    lampOptions.darken = r.darken;
    const cv::Mat scene = velmora::tools::NightScene(sharp, r.seed, lampOptions);
    bytes = velmora::tools::CameraRecord(scene, kernel, r.noise, noiseSeed);
    velmora::tools::SharpRecord(scene).convertTo(sharpBytes, CV_8U, 255.0);
  } else {
    velmora::tools::BlurImage(sharp, kernel, r.noise, noiseSeed).convertTo(bytes, CV_8U, 255.0);
  }
  StagedFile kernelFile(r.kernelOut);
  kernelFile.Write(EncodePicture(KernelPicture(kernel), ".png"));
  if (!r.sharpOut.empty())
    WriteFileAtomically(r.sharpOut, EncodePicture(sharpBytes.empty() ? bytes : sharpBytes,
                                                  std::filesystem::path(r.sharpOut).extension().string()));
  WriteFileAtomically(r.output, EncodePicture(bytes, std::filesystem::path(r.output).extension().string()));
  kernelFile.Commit();
  return kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  // The tool reports unreadable files in its own words.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  CLI::App app{"Blurs a photograph with a seeded, generated camera-shake kernel.", kProgram};
  ShakeRequest request;
  app.add_option("INPUT", request.input, "the sharp photograph")->required();
  app.add_option("--size", request.size, "kernel side, odd, at least 3")->required();
  app.add_option("--seed", request.seed, "seed of the trajectory and the noise")->required();
  app.add_option("--noise", request.noise, "standard deviation of the added noise, on the 0-1 scale (default 0)");
  app.add_option("--kind", request.kind,
                 "hand-held (a jittery walk, the default) or sweep (a long, thin, curving path)");
  app.add_option("-o,--output", request.output, "the blurred picture (.png, .bmp, .jpg)")->required();
  app.add_option("--kernel-out", request.kernelOut, "the kernel as a 16-bit grey .png")->required();
  app.add_flag("--night", request.night,
               "make a night scene of the photograph first: darkened in linear light, with small lamps 2 to 8 "
               "times brighter than the sensor's maximum; the shake is then applied in linear light, clipped "
               "and coded with the sRGB curve, and the noise added to the coded values");
  app.add_option("--sharp-out", request.sharpOut, "with --night: the unshaken night scene as stored");
  app.add_option("--lamps", request.lamps, "with --night: lamps per megapixel (default 30, at least one lamp)");
  app.add_option("--darken", request.darken, "with --night: the scene's light against the day's, above 0 to 1 (default 0.3)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::fprintf(stderr, "%s: %s (see --help)\n", kProgram, e.what());
    return kExitBadInput;
  }
  try {
    return Run(request);
  } catch (const IoError& e) {
    std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
    return e.problem() == Problem::kBadInput ? kExitBadInput : kExitInternal;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: internal error: %s\n", kProgram, e.what());
    return kExitInternal;
  }
}
