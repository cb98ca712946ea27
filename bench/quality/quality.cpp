// Quality benchmark: blind deblurring of photographs blurred by generated
// camera shake with known kernels, by each kernel estimator, under the
// conditions photographers meet.
//
// A condition is a picture set x a shake set x a noise level, named like
// grey255/small/0.01 (see bench/quality/README.md for the sets). Every case
// is blurred, noise added and stored at 8 bits, then restored blindly by each
// estimator through the job code the command-line tool runs (blur size as
// the shake set gives it, other settings default) and once with the true
// kernel at its true size.
//
// Per case: the error ratio (blind over true-kernel sum of squared errors,
// each at its best integer shift of at most 4 pixels, one true kernel size
// of border left out), the kernel similarity, the PSNR gain over the blurred
// picture (same shift and border) and the blind job's time. Per condition
// and estimator, and per picture set and estimator: the share of cases at
// ratio <= 2 and 3, the median ratio, the mean gain, the share made worse
// than the blurred picture and the mean time.
#include <fnmatch.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "estimation/sharp_params.h"
#include "frontend/job.h"
#include "pipeline/highlights.h"
#include "tools/metrics.h"
#include "tools/night_scene.h"
#include "tools/shake.h"

namespace {

using namespace velmora;
using tools::ShakeKind;

constexpr int kMaxShift = 4;
// Taps of a true kernel counted in its extent, the size a search should
// find: fainter ones carry too little of the blur to matter.
constexpr double kExtentShare = 0.05;
constexpr int kCropSide = 255;

// ---------------------------------------------------------------------------
// The sharp estimator's parameters by name, for --set.

using FieldRef = std::variant<int*, float*, double*, bool*>;

struct ParamField {
  const char* name;
  FieldRef (*field)(SharpEstimatorParams&);
};

#define VELMORA_PARAM(member) \
  ParamField { #member, [](SharpEstimatorParams& p) -> FieldRef { return &p.member; } }

// Every scalar of SharpEstimatorParams under its name in the struct; a field
// added there needs one line here.
const ParamField kParamFields[] = {
    VELMORA_PARAM(iterationsPerLevel),    VELMORA_PARAM(lambdaStart),
    VELMORA_PARAM(lambdaDecay),           VELMORA_PARAM(lambdaFloor),
    VELMORA_PARAM(betaMax),               VELMORA_PARAM(kernelWeight),
    VELMORA_PARAM(kernelWeightPixels),    VELMORA_PARAM(cgSteps),
    VELMORA_PARAM(gradientShare),         VELMORA_PARAM(cutRatio),
    VELMORA_PARAM(keepConnectedRatio),    VELMORA_PARAM(pruneShare),
    VELMORA_PARAM(pruneFromSide),         VELMORA_PARAM(starts),
    VELMORA_PARAM(lambdaAlternatives[0]), VELMORA_PARAM(lambdaAlternatives[1]),
    VELMORA_PARAM(exploreLevels),         VELMORA_PARAM(subPixelCentre),
    VELMORA_PARAM(windowPixels),          VELMORA_PARAM(windowKernelWidths),
    VELMORA_PARAM(kernelPriorPower),      VELMORA_PARAM(kernelPriorFloor),
    VELMORA_PARAM(noiseReference),        VELMORA_PARAM(noiseFloor),
    VELMORA_PARAM(lambdaFollowsNoise),    VELMORA_PARAM(lambdaLeast),
    VELMORA_PARAM(largeKernelTaps),       VELMORA_PARAM(largeKernelIterations),
    VELMORA_PARAM(largeKernelCgSteps),    VELMORA_PARAM(windowPixelsMost),
    VELMORA_PARAM(sizeTapShare),          VELMORA_PARAM(sizeMarginTaps),
    VELMORA_PARAM(sizeFinalMargin),       VELMORA_PARAM(sizeSearchLeastSide),
    VELMORA_PARAM(sizeSearchScale),       VELMORA_PARAM(sizeSearchCut),
    VELMORA_PARAM(sizeSearchPrune),       VELMORA_PARAM(sizeFinalShare),
    VELMORA_PARAM(sizeSearchExplores),    VELMORA_PARAM(sizeNarrowsAfter),
    VELMORA_PARAM(sizeSearchHardBelow),   VELMORA_PARAM(sizeSearchFinestSide),
    VELMORA_PARAM(classicSizeSearchScale),
    VELMORA_PARAM(outsideSupportWeight),  VELMORA_PARAM(noisePower),
};

#undef VELMORA_PARAM

bool ParseInto(const std::string& text, int* field) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end) return false;
  *field = static_cast<int>(v);
  return true;
}

template <typename Real>
bool ParseInto(const std::string& text, Real* field) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end) return false;
  *field = static_cast<Real>(v);
  return true;
}

bool ParseInto(const std::string& text, bool* field) {
  if (text != "true" && text != "false" && text != "1" && text != "0") return false;
  *field = text == "true" || text == "1";
  return true;
}

[[noreturn]] void UnknownParam(const std::string& name) {
  std::fprintf(stderr, "unknown sharp estimator parameter '%s'; known:", name.c_str());
  for (const ParamField& f : kParamFields) std::fprintf(stderr, " %s", f.name);
  std::fprintf(stderr, "\n");
  std::exit(2);
}

// Applies one name=value to params; exits on a bad name or value.
void ApplySetting(const std::string& setting, SharpEstimatorParams* params) {
  const size_t eq = setting.find('=');
  const std::string name = setting.substr(0, eq);
  const ParamField* found = nullptr;
  for (const ParamField& f : kParamFields)
    if (name == f.name) found = &f;
  if (!found) UnknownParam(name);
  const std::string value = eq == std::string::npos ? "" : setting.substr(eq + 1);
  const bool parsed = std::visit([&](auto* field) { return ParseInto(value, field); }, found->field(*params));
  if (!parsed) {
    std::fprintf(stderr, "--set %s: '%s' is not a value for it\n", name.c_str(), value.c_str());
    std::exit(2);
  }
}

// ---------------------------------------------------------------------------
// Conditions.

// How a case is made from a photograph: blurred as stored; or as a camera
// would, in linear light with clipping and the sRGB curve (the daylight
// control of the night scenes); or as a night scene with lamps.
enum class Scene { kStored, kDaylight, kNight };

struct PictureSet {
  const char* name;
  // The grey crops of the samples, every shake on every crop; else the
  // photographs, each with shakes of its own.
  bool crops;
  cv::Size size;   // photographs shrunk to this; empty: their own size
  int quickCases;  // cases per condition under --quick
  Scene scene = Scene::kStored;
};

struct ShakeSet {
  const char* name;
  std::vector<int> sizes;
  uint64_t seedBase;
  double givenScale;  // the job is told this times the true size
};

struct Condition {
  const PictureSet* pictures;
  const ShakeSet* shakes;
  const char* noiseLabel;
  bool byDefault;
  double Noise() const { return std::atof(noiseLabel); }
  std::string Name() const { return std::string(pictures->name) + "/" + shakes->name + "/" + noiseLabel; }
};

const PictureSet kGrey255{"grey255", true, {}, 2};
const PictureSet kColour1mp{"colour1mp", false, {1280, 800}, 1};
const PictureSet kPhoto4mp{"photo4mp", false, {}, 1};
const PictureSet kNight1mp{"night1mp", false, {1280, 800}, 1, Scene::kNight};
const PictureSet kDay1mp{"day1mp", false, {1280, 800}, 1, Scene::kDaylight};
const PictureSet* const kPictureSets[] = {&kGrey255, &kColour1mp, &kPhoto4mp, &kNight1mp, &kDay1mp};

const ShakeSet kSmall{"small", {13, 19, 25, 31}, 0, 1.0};
const ShakeSet kLarge{"large", {51, 61, 67, 75}, 100, 1.0};
const ShakeSet kHuge{"huge", {101, 121}, 200, 1.0};
// The small shakes with a preset chosen too large.
const ShakeSet kOversize{"oversize", {13, 19, 25, 31}, 0, 1.5};
// The shakes of long night exposures.
const ShakeSet kNightShakes{"21-75", {21, 31, 41, 55, 75}, 300, 1.0};

const std::vector<const char*> kNoiseLevels{"0", "0.005", "0.01"};

struct Cross {
  const PictureSet* pictures;
  std::vector<const ShakeSet*> shakes;
  size_t defaultNoises;  // how many of the noise levels run without --conditions
  std::vector<const char*> noises = kNoiseLevels;
};

// The 4-megapixel jobs are the longest: their noisiest level runs on request.
// The night scenes and their control are noised in linear light, where the
// darkened scene makes 0.005 a grainy night picture.
const Cross kCrosses[] = {
    {&kGrey255, {&kSmall, &kOversize}, 3},
    {&kColour1mp, {&kSmall, &kLarge, &kOversize}, 3},
    {&kPhoto4mp, {&kHuge}, 2},
    {&kNight1mp, {&kNightShakes}, 1, {"0.005", "0.01"}},
    {&kDay1mp, {&kNightShakes}, 1, {"0.005", "0.01"}},
};

std::vector<Condition> AllConditions() {
  std::vector<Condition> all;
  for (const Cross& cross : kCrosses)
    for (const ShakeSet* shakes : cross.shakes)
      for (size_t n = 0; n < cross.noises.size(); ++n)
        all.push_back({cross.pictures, shakes, cross.noises[n], n < cross.defaultNoises});
  return all;
}

// A glob, or whole leading components of the name ("colour1mp/large").
bool Matches(const std::string& pattern, const std::string& name) {
  return fnmatch(pattern.c_str(), name.c_str(), 0) == 0 ||
         fnmatch((pattern + "/*").c_str(), name.c_str(), 0) == 0;
}

std::vector<Condition> SelectConditions(const std::vector<std::string>& patterns) {
  const std::vector<Condition> all = AllConditions();
  std::vector<Condition> chosen;
  for (const Condition& c : all) {
    const bool hit = std::any_of(patterns.begin(), patterns.end(),
                                 [&](const std::string& p) { return Matches(p, c.Name()); });
    if (patterns.empty() ? c.byDefault : hit) chosen.push_back(c);
  }
  for (const std::string& p : patterns) {
    if (std::any_of(all.begin(), all.end(), [&](const Condition& c) { return Matches(p, c.Name()); })) continue;
    std::fprintf(stderr, "--conditions: '%s' names no condition; they are:", p.c_str());
    for (const Condition& c : all) std::fprintf(stderr, " %s", c.Name().c_str());
    std::fprintf(stderr, "\n");
    std::exit(2);
  }
  return chosen;
}

// ---------------------------------------------------------------------------
// Pictures and cases.

struct Picture {
  std::string name;
  cv::Mat sharp;  // CV_32F BGR on the 0-1 scale, as stored
  cv::Mat light;  // the scene in linear light for the camera's pipeline; empty: blurred as stored
};

struct Shake {
  int size;
  uint64_t seed;
  ShakeKind kind;
};

struct Case {
  const Picture* picture;
  Shake shake;
  int givenSize;
};

cv::Mat ToUnit(const cv::Mat& bgr8) {
  cv::Mat f;
  bgr8.convertTo(f, CV_32F, 1.0 / 255);
  return f;
}

// A grey crop from the middle of each sample, as the classic test sets are.
std::vector<Picture> GreyCrops(const std::string& dir, size_t count) {
  std::vector<Picture> pictures;
  for (const char* name : {"coffee", "chelsea", "astronaut"}) {
    if (pictures.size() == count) break;
    const cv::Mat photo = cv::imread(dir + "/" + name + ".png", cv::IMREAD_COLOR);
    if (photo.empty()) {
      std::fprintf(stderr, "cannot read %s/%s.png\n", dir.c_str(), name);
      std::exit(2);
    }
    const cv::Rect middle((photo.cols - kCropSide) / 2, (photo.rows - kCropSide) / 2, kCropSide, kCropSide);
    cv::Mat grey, bgr;
    cv::cvtColor(photo(middle), grey, cv::COLOR_BGR2GRAY);
    cv::cvtColor(grey, bgr, cv::COLOR_GRAY2BGR);
    pictures.push_back({name, ToUnit(bgr), {}});
  }
  return pictures;
}

// The shared photographs, read at run time: they are not ours to copy into
// the repository. Nothing when one cannot be read.
std::optional<std::vector<Picture>> Photographs(const std::string& dir, cv::Size size, size_t count,
                                                Scene scene) {
  if (!std::filesystem::is_directory(dir)) {
    std::fprintf(stderr, "no photographs folder at %s (--photos DIR)\n", dir.c_str());
    return std::nullopt;
  }
  std::vector<Picture> pictures;
  for (const char* name : {"eveningglow", "path", "onestandsout", "bythewater"}) {
    if (pictures.size() == count) break;
    cv::Mat photo = cv::imread(dir + "/" + name + ".jpg", cv::IMREAD_COLOR);
    if (photo.empty()) {
      std::fprintf(stderr, "cannot read %s/%s.jpg\n", dir.c_str(), name);
      return std::nullopt;
    }
    if (!size.empty()) cv::resize(photo, photo, size, 0, 0, cv::INTER_AREA);
    Picture picture{name, ToUnit(photo), {}};
    if (scene != Scene::kStored) {
      picture.light = scene == Scene::kNight ? tools::NightScene(picture.sharp, pictures.size() + 1)
                                             : tools::SrgbToLinear(picture.sharp);
      picture.sharp = tools::SharpRecord(picture.light);
    }
    pictures.push_back(picture);
  }
  return pictures;
}

// On the crops every size comes with both kinds and the same seeds on every
// crop; a photograph gets one shake per size, the kinds alternating and
// swapped from one photograph to the next, seeds of its own.
std::vector<Shake> ShakesFor(const PictureSet& pictures, const ShakeSet& shakes, size_t pictureIndex) {
  std::vector<Shake> out;
  const size_t n = shakes.sizes.size();
  for (size_t i = 0; i < n; ++i) {
    const int size = shakes.sizes[i];
    if (pictures.crops) {
      for (ShakeKind kind : {ShakeKind::kHandHeld, ShakeKind::kSweep})
        out.push_back({size, shakes.seedBase + 1 + i, kind});
    } else {
      const ShakeKind kind = (i + pictureIndex) % 2 ? ShakeKind::kSweep : ShakeKind::kHandHeld;
      out.push_back({size, shakes.seedBase + 1 + i + n * pictureIndex, kind});
    }
  }
  return out;
}

int GivenSize(const ShakeSet& shakes, int trueSize) {
  return shakes.givenScale == 1.0 ? trueSize : static_cast<int>(std::lround(shakes.givenScale * trueSize)) | 1;
}

// Takes limit cases one at a time, each the one whose size, then kind, then
// picture has been taken least so far (the earliest on a tie), so that a
// short run still sees the sizes and both kinds; they keep their order.
std::vector<Case> Spread(const std::vector<Case>& cases, size_t limit) {
  if (limit == 0 || limit >= cases.size()) return cases;
  std::map<int, int> bySize, byKind;
  std::map<const Picture*, int> byPicture;
  std::vector<bool> taken(cases.size(), false);
  auto key = [&](const Case& c) {
    return std::make_tuple(bySize[c.shake.size], byKind[static_cast<int>(c.shake.kind)], byPicture[c.picture]);
  };
  for (size_t n = 0; n < limit; ++n) {
    size_t best = cases.size();
    for (size_t i = 0; i < cases.size(); ++i)
      if (!taken[i] && (best == cases.size() || key(cases[i]) < key(cases[best]))) best = i;
    taken[best] = true;
    const Case& c = cases[best];
    ++bySize[c.shake.size], ++byKind[static_cast<int>(c.shake.kind)], ++byPicture[c.picture];
  }
  std::vector<Case> chosen;
  for (size_t i = 0; i < cases.size(); ++i)
    if (taken[i]) chosen.push_back(cases[i]);
  return chosen;
}

std::vector<Case> Cases(const Condition& condition, const std::vector<Picture>& pictures, size_t limit) {
  std::vector<Case> cases;
  for (size_t p = 0; p < pictures.size(); ++p)
    for (const Shake& s : ShakesFor(*condition.pictures, *condition.shakes, p))
      cases.push_back({&pictures[p], s, GivenSize(*condition.shakes, s.size)});
  return Spread(cases, limit);
}

// ---------------------------------------------------------------------------
// Running and scoring.

// How a case is restored blindly: an estimator, at the size the case gives
// or finding it (auto), and for the window check the sharp one on a window
// of a share of the picture.
struct Method {
  std::string label;
  KernelEstimator estimator;
  double windowShare = 0.0;  // 0: the estimator's own window
  bool findSize = false;     // the bound: the largest the picture allows
  Highlights highlights = Highlights::kKeep;
};

struct JobRun {
  cv::Mat restored;  // CV_32F on the 0-1 scale; empty when the job gave none
  cv::Mat kernel;
  int status = kJobNoMode;
  double seconds = 0.0;
  cv::Size found;  // a size search's result (width x height); empty otherwise
};

// Runs one job the way the command-line tool does.
JobRun RunJob(const cv::Mat& blurred8, int size, const JobOptions& options, const cv::Mat* knownKernel) {
  DeblurSettings settings;
  settings.kernelHeight = options.findBlurSize ? LargestBlurSide(blurred8.rows) : size;
  settings.kernelWidth = options.findBlurSize ? LargestBlurSide(blurred8.cols) : size;
  DeblurJob job(settings, nullptr);
  job.options = options;
  job.input = blurred8.clone();
  job.kernelPath.clear();
  if (knownKernel) {
    job.UseKnownKernel(*knownKernel);
    job.mode = kModeRemaining;
  } else {
    job.mode = kModeComplete;
  }
  job.Run();
  JobRun run;
  if (!job.result.empty()) run.restored = ToUnit(job.result);
  run.kernel = job.kernel.clone();
  run.status = job.status;
  run.seconds = job.seconds;
  run.found = cv::Size(job.foundKernelWidth, job.foundKernelHeight);
  return run;
}

double Error(const cv::Mat& restored, const Case& c) {
  return tools::BestShiftSumSquaredError(restored, c.picture->sharp, kMaxShift, c.shake.size);
}

double Psnr(const cv::Mat& restored, const Case& c) {
  return tools::BestShiftPsnr(restored, c.picture->sharp, kMaxShift, c.shake.size);
}

// The true kernel's restore, for each way of taking highlights.
struct Truth {
  double error = 0.0, gain = 0.0;
};

struct Blurred {
  cv::Mat picture8, kernel;
  double blurredPsnr = 0.0;
  Truth truth[2];  // by Highlights
  bool lamps = false;  // whether the blurred picture shows clipped lamps
};

Blurred Blur(const Case& c, double noise, const std::vector<Highlights>& modes) {
  Blurred b;
  b.kernel = tools::GenerateShakeKernel(c.shake.size, c.shake.seed, c.shake.kind);
  if (c.picture->light.empty())
    tools::BlurImage(c.picture->sharp, b.kernel, noise, c.shake.seed + 1000).convertTo(b.picture8, CV_8U, 255.0);
  else
    b.picture8 = tools::CameraRecord(c.picture->light, b.kernel, noise, c.shake.seed + 1000);
  b.blurredPsnr = Psnr(ToUnit(b.picture8), c);
  b.lamps = ShowsClippedHighlights(b.picture8);
  for (Highlights mode : modes) {
    JobOptions options;
    options.highlights = mode;
    const JobRun truth = RunJob(b.picture8, c.shake.size, options, &b.kernel);
    if (truth.status != kJobSucceeded || truth.restored.empty()) {
      std::fprintf(stderr, "%s: the true-kernel job failed (status %d)\n", c.picture->name.c_str(), truth.status);
      std::exit(1);
    }
    b.truth[static_cast<int>(mode)] = {Error(truth.restored, c), Psnr(truth.restored, c) - b.blurredPsnr};
  }
  return b;
}

struct Outcome {
  double ratio = 0.0, similarity = 0.0, gain = 0.0, seconds = 0.0, trueGain = 0.0;
  bool estimated = false;
  cv::Size found;  // auto: the size found
  // Auto: the true kernel's extent, and the error against that of the same
  // estimator at the case's given size (0 when that did not run).
  cv::Size extent;
  double againstGiven = 0.0;
  ShakeKind kind = ShakeKind::kHandHeld;
};

Outcome Blind(const Case& c, const Blurred& b, const Method& m, const SharpEstimatorParams& params) {
  JobOptions options;
  options.estimator = m.estimator;
  options.sharpParams = params;
  options.findBlurSize = m.findSize;
  options.highlights = m.highlights;
  if (m.windowShare > 0) options.sharpParams.windowPixels = m.windowShare * static_cast<double>(b.picture8.total());
  const JobRun run = RunJob(b.picture8, c.givenSize, options, nullptr);
  // A job that gave no picture leaves the user the blurred one.
  const cv::Mat restored = run.restored.empty() ? ToUnit(b.picture8) : run.restored;
  Outcome o;
  const Truth& truth = b.truth[static_cast<int>(m.highlights)];
  o.ratio = Error(restored, c) / truth.error;
  o.trueGain = truth.gain;
  o.gain = Psnr(restored, c) - b.blurredPsnr;
  o.similarity = run.kernel.empty() ? 0.0 : tools::KernelSimilarity(run.kernel, b.kernel);
  o.seconds = run.seconds;
  o.estimated = run.status == kJobSucceeded;
  o.found = run.found;
  o.kind = c.shake.kind;
  if (m.findSize) o.extent = tools::KernelExtent(b.kernel, kExtentShare);
  return o;
}

// ---------------------------------------------------------------------------
// Tables.

struct Record {
  const Condition* condition;
  size_t method;
  Outcome outcome;
};

struct Tally {
  std::vector<double> ratios;
  double gains = 0.0, trueGains = 0.0, seconds = 0.0;
  size_t worse = 0;

  void Add(const Outcome& o) {
    ratios.push_back(o.ratio);
    gains += o.gain;
    trueGains += o.trueGain;
    seconds += o.seconds;
    worse += o.gain < 0.0;
  }

  void Print(FILE* out, const std::string& label, const std::string& method) const {
    const size_t n = ratios.size();
    auto share = [&](double bound) {
      return 100.0 * std::count_if(ratios.begin(), ratios.end(), [bound](double r) { return r <= bound; }) / n;
    };
    std::vector<double> sorted = ratios;
    std::sort(sorted.begin(), sorted.end());
    const double median = n % 2 ? sorted[n / 2] : 0.5 * (sorted[n / 2 - 1] + sorted[n / 2]);
    std::fprintf(out, "| %s | %s | %zu | %.0f %% | %.0f %% | %.2f | %.2f | %.0f %% | %.2f | %.2f s |\n",
                 label.c_str(), method.c_str(), n, share(2.0), share(3.0), median, gains / n, 100.0 * worse / n,
                 trueGains / n, seconds / n);
  }
};

const char* KindName(ShakeKind kind) { return kind == ShakeKind::kSweep ? "sweep" : "hand-held"; }

void PrintCaseHeader(FILE* table, const std::vector<Method>& methods, const std::vector<Highlights>& modes) {
  std::string head = "| condition | picture | shake | true size | given size |";
  std::string rule = "|---|---|---|---|---|";
  for (Highlights mode : modes) {
    head += mode == Highlights::kModel ? " clipped lamps | true-kernel gain, highlights modelled (dB) |"
                                       : " true-kernel gain (dB) |";
    rule += mode == Highlights::kModel ? "---|---|" : "---|";
  }
  for (const Method& m : methods) {
    for (const char* column : {" ratio |", " similarity |", " gain (dB) |", " s |"}) head += " " + m.label + column;
    rule += "---|---|---|---|";
    if (m.findSize) {
      head += " " + m.label + " found (true extent) |";
      rule += "---|";
    }
  }
  std::fprintf(table, "%s\n%s\n", head.c_str(), rule.c_str());
}

void RunCase(const Condition& condition, const Case& c, const std::vector<Method>& methods,
             const std::vector<Highlights>& modes, const SharpEstimatorParams& params, FILE* table,
             std::vector<Record>* records) {
  const Blurred b = Blur(c, condition.Noise(), modes);
  std::vector<std::optional<Outcome>> here(methods.size());
  std::fprintf(table, "| %s | %s | %s %llu | %d | %d |", condition.Name().c_str(), c.picture->name.c_str(),
               KindName(c.shake.kind), static_cast<unsigned long long>(c.shake.seed), c.shake.size, c.givenSize);
  for (Highlights mode : modes) {
    if (mode == Highlights::kModel) std::fprintf(table, " %s |", b.lamps ? "yes" : "no");
    std::fprintf(table, " %.2f |", b.truth[static_cast<int>(mode)].gain);
  }
  for (size_t m = 0; m < methods.size(); ++m) {
    // A window of a share is what a large photograph gets: the crops have none.
    if (methods[m].windowShare > 0 && condition.pictures->crops) {
      std::fprintf(table, " | | | |");
      continue;
    }
    Outcome o = Blind(c, b, methods[m], params);
    // The methods at the given size come first: auto is measured against the
    // same estimator's.
    for (size_t g = 0; g < m; ++g)
      if (methods[m].findSize && here[g] && !methods[g].findSize && methods[g].windowShare == 0 &&
          methods[g].estimator == methods[m].estimator && methods[g].highlights == methods[m].highlights)
        o.againstGiven = o.ratio / here[g]->ratio;
    here[m] = o;
    std::fprintf(table, " %.2f%s | %.3f | %.2f | %.2f |", o.ratio, o.estimated ? "" : " (failed)", o.similarity,
                 o.gain, o.seconds);
    if (methods[m].findSize)
      std::fprintf(table, " %d x %d (%d x %d) |", o.found.height, o.found.width, o.extent.height, o.extent.width);
    records->push_back({&condition, m, o});
  }
  std::fprintf(table, "\n");
  std::fflush(table);
}

template <typename Select>
void PrintTally(FILE* table, const std::vector<Record>& records, const std::string& label, const Method& method,
                size_t m, Select select) {
  Tally tally;
  for (const Record& r : records)
    if (r.method == m && select(*r.condition)) tally.Add(r.outcome);
  if (!tally.ratios.empty()) tally.Print(table, label, method.label);
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

double Quantile(std::vector<double> v, double q) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(std::lround(q * (v.size() - 1)))];
}

// The sizes a search found against the true extents, side by side, and its
// error against the same estimator's at the given size.
struct SizeTally {
  std::vector<double> sideRatios, againstGiven;
  size_t within20 = 0, within20or4 = 0, cases = 0;

  void Add(const Outcome& o) {
    ++cases;
    bool close = true, closeOr4 = true;
    for (auto [found, extent] : {std::pair{o.found.height, o.extent.height}, {o.found.width, o.extent.width}}) {
      sideRatios.push_back(static_cast<double>(found) / extent);
      close = close && std::abs(found - extent) <= 0.2 * extent;
      closeOr4 = closeOr4 && std::abs(found - extent) <= std::max(4.0, 0.2 * extent);
    }
    within20 += close;
    within20or4 += closeOr4;
    if (o.againstGiven > 0.0) againstGiven.push_back(o.againstGiven);
  }

  void Print(FILE* out, const std::string& label, const std::string& method, const char* kind) const {
    if (cases == 0) return;
    std::fprintf(out, "| %s | %s | %s | %zu | %.0f %% | %.0f %% | %.2f | %.2f | %.2f |", label.c_str(), method.c_str(),
                 kind, cases, 100.0 * within20 / cases, 100.0 * within20or4 / cases, Quantile(sideRatios, 0.1),
                 Median(sideRatios), Quantile(sideRatios, 0.9));
    if (againstGiven.empty())
      std::fprintf(out, " - |\n");
    else
      std::fprintf(out, " %.2f |\n", Median(againstGiven));
  }
};

void PrintSizeSummary(FILE* table, const std::vector<Condition>& conditions, const std::vector<Method>& methods,
                      const std::vector<Record>& records) {
  if (std::none_of(methods.begin(), methods.end(), [](const Method& m) { return m.findSize; })) return;
  std::fprintf(table,
               "\n| condition | method | shake | cases | both sides within 20 %% | within 20 %% or 4 px |"
               " found / extent, 10 %% | median | 90 %% | error against the given size, median |\n"
               "|---|---|---|---|---|---|---|---|---|---|\n");
  auto print = [&](const std::string& label, auto select) {
    for (size_t m = 0; m < methods.size(); ++m) {
      if (!methods[m].findSize) continue;
      for (ShakeKind kind : {ShakeKind::kHandHeld, ShakeKind::kSweep}) {
        SizeTally tally;
        for (const Record& r : records)
          if (r.method == m && r.outcome.kind == kind && select(*r.condition)) tally.Add(r.outcome);
        tally.Print(table, label, methods[m].label, KindName(kind));
      }
    }
  };
  for (const Condition& c : conditions) print(c.Name(), [&](const Condition& r) { return &r == &c; });
  print("**all**", [](const Condition&) { return true; });
}

void PrintSummary(FILE* table, const std::vector<Condition>& conditions, const std::vector<Method>& methods,
                  const std::vector<Record>& records) {
  std::fprintf(table, "\n| condition | estimator | cases | ratio <= 2 | ratio <= 3 | median ratio | mean gain (dB) |"
                      " worse than blurred | true-kernel gain (dB) | mean time |\n|---|---|---|---|---|---|---|---|---|---|\n");
  for (const Condition& c : conditions)
    for (size_t m = 0; m < methods.size(); ++m)
      PrintTally(table, records, c.Name(), methods[m], m, [&](const Condition& r) { return &r == &c; });
  for (const PictureSet* set : kPictureSets)
    for (size_t m = 0; m < methods.size(); ++m)
      PrintTally(table, records, std::string("**") + set->name + ", all**", methods[m], m,
                 [&](const Condition& r) { return r.pictures == set; });
}

// ---------------------------------------------------------------------------
// The command line.

struct Options {
  std::string samplesDir = VELMORA_SOURCE_DIR "/samples";
  std::string photosDir = VELMORA_SOURCE_DIR "/../shared/photos";
  std::vector<std::string> patterns;
  std::vector<KernelEstimator> estimators{KernelEstimator::kClassic, KernelEstimator::kSharp};
  std::vector<std::string> settings;
  SharpEstimatorParams params;
  size_t limit = 0;  // 0: every case
  bool quick = false;
  double windowShare = 0.0;  // 0: no window check
  bool given = true, findSize = false;  // --blur-size given,auto
  std::vector<Highlights> highlights{Highlights::kKeep};  // --highlights keep,model
};

std::vector<std::string> SplitCommas(const std::string& list) {
  std::vector<std::string> items;
  size_t start = 0;
  for (size_t comma; (comma = list.find(',', start)) != std::string::npos; start = comma + 1)
    items.push_back(list.substr(start, comma - start));
  items.push_back(list.substr(start));
  items.erase(std::remove(items.begin(), items.end(), ""), items.end());
  return items;
}

[[noreturn]] void Usage(const std::string& why) {
  std::fprintf(stderr,
               "%s\nusage: velmora-quality [SAMPLES_DIR] [--photos DIR] [--conditions GLOB,...]\n"
               "  [--estimators classic,sharp|none] [--blur-size given,auto] [--highlights keep,model]\n"
               "  [--set NAME=VALUE]...\n"
               "  [--limit N] [--quick]\n"
               "  [--window-check[=SHARE]]\n",
               why.c_str());
  std::exit(2);
}

// "--flag value" or "--flag=value": true with *value set when argv[*i] is flag.
bool FlagValue(const char* flag, int argc, char** argv, int* i, std::string* value) {
  const std::string a = argv[*i], f = flag;
  if (a.rfind(f + "=", 0) == 0) {
    *value = a.substr(f.size() + 1);
    return true;
  }
  if (a != f) return false;
  if (++*i == argc) Usage(f + " needs a value");
  *value = argv[*i];
  return true;
}

size_t ParseLimit(const std::string& text) {
  char* end = nullptr;
  const long n = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || n < 1) Usage("--limit needs a count of at least 1");
  return static_cast<size_t>(n);
}

void ParseEstimators(const std::string& list, Options* o) {
  o->estimators.clear();
  if (list == "none") return;  // the true kernel's restores alone
  for (const std::string& name : SplitCommas(list)) {
    KernelEstimator e;
    if (!ParseEstimatorName(name, &e)) Usage("unknown estimator '" + name + "'");
    o->estimators.push_back(e);
  }
  if (o->estimators.empty()) Usage("--estimators names none (say none for the true kernel alone)");
}

void ParseBlurSizes(const std::string& list, Options* o) {
  o->given = o->findSize = false;
  for (const std::string& name : SplitCommas(list)) {
    if (name == "given") o->given = true;
    else if (name == "auto") o->findSize = true;
    else Usage("--blur-size: '" + name + "' is neither given nor auto");
  }
  if (!o->given && !o->findSize) Usage("--blur-size names none");
}

void ParseHighlights(const std::string& list, Options* o) {
  o->highlights.clear();
  for (const std::string& name : SplitCommas(list)) {
    if (name == "keep") o->highlights.push_back(Highlights::kKeep);
    else if (name == "model") o->highlights.push_back(Highlights::kModel);
    else Usage("--highlights: '" + name + "' is neither keep nor model");
  }
  if (o->highlights.empty()) Usage("--highlights names none");
}

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    std::string v;
    if (a == "--quick") o.quick = true;
    else if (a == "--window-check") o.windowShare = 0.4;
    else if (a.rfind("--window-check=", 0) == 0) o.windowShare = std::atof(a.c_str() + 15);
    else if (FlagValue("--photos", argc, argv, &i, &v)) o.photosDir = v;
    else if (FlagValue("--conditions", argc, argv, &i, &v)) o.patterns = SplitCommas(v);
    else if (FlagValue("--estimators", argc, argv, &i, &v)) ParseEstimators(v, &o);
    else if (FlagValue("--limit", argc, argv, &i, &v)) o.limit = ParseLimit(v);
    else if (FlagValue("--blur-size", argc, argv, &i, &v)) ParseBlurSizes(v, &o);
    else if (FlagValue("--highlights", argc, argv, &i, &v)) ParseHighlights(v, &o);
    else if (FlagValue("--set", argc, argv, &i, &v)) {
      ApplySetting(v, &o.params);
      o.settings.push_back(v);
    }
    else if (a.rfind("--", 0) == 0) Usage("unknown option " + a);
    else o.samplesDir = a;
  }
  if (!(o.windowShare >= 0.0 && o.windowShare <= 1.0)) Usage("--window-check: SHARE is a share of the picture");
  if (o.quick && o.patterns.empty()) o.patterns = {"grey255/small/0.01", "colour1mp/small/0.01"};
  return o;
}

std::vector<Method> Methods(const Options& o) {
  std::vector<Method> methods;
  for (Highlights h : o.highlights) {
    const std::string tail = h == Highlights::kModel ? ", highlights modelled" : "";
    if (o.given)
      for (KernelEstimator e : o.estimators) methods.push_back({std::string(EstimatorName(e)) + tail, e, 0.0, false, h});
    if (o.findSize)
      for (KernelEstimator e : o.estimators)
        methods.push_back({std::string(EstimatorName(e)) + ", auto" + tail, e, 0.0, true, h});
  }
  if (o.windowShare > 0)
    methods.push_back({"sharp, " + std::to_string(std::lround(o.windowShare * 100)) + " % window",
                       KernelEstimator::kSharp, o.windowShare});
  return methods;
}

std::optional<std::vector<Picture>> LoadPictures(const PictureSet& set, const Options& o) {
  const size_t count = o.quick ? 1 : SIZE_MAX;
  if (set.crops) return GreyCrops(o.samplesDir, count);
  return Photographs(o.photosDir, set.size, count, set.scene);
}

// Runs the chosen conditions on one picture set, its pictures loaded for
// them alone: the 4-megapixel ones are large.
void RunPictureSet(const PictureSet& set, const std::vector<Condition>& conditions, const Options& o,
                   const std::vector<Method>& methods, FILE* table, std::vector<Record>* records) {
  const std::optional<std::vector<Picture>> pictures = LoadPictures(set, o);
  for (const Condition& c : conditions) {
    if (c.pictures != &set) continue;
    if (!pictures) {
      std::fprintf(stderr, "skipping %s\n", c.Name().c_str());
      continue;
    }
    const size_t limit = o.quick && (o.limit == 0 || o.limit > size_t(set.quickCases)) ? set.quickCases : o.limit;
    for (const Case& k : Cases(c, *pictures, limit)) RunCase(c, k, methods, o.highlights, o.params, table, records);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = ParseOptions(argc, argv);
  const std::vector<Condition> conditions = SelectConditions(o.patterns);
  const std::vector<Method> methods = Methods(o);

  // The engine logs its stages on standard output; the tables get their own
  // copy of the stream and the log goes nowhere.
  FILE* table = fdopen(dup(fileno(stdout)), "w");
  if (!table || !std::freopen("/dev/null", "w", stdout)) return 2;
  if (!o.settings.empty()) {
    std::fprintf(table, "Sharp estimator parameters set:");
    for (const std::string& s : o.settings) std::fprintf(table, " %s", s.c_str());
    std::fprintf(table, "\n\n");
  }
  PrintCaseHeader(table, methods, o.highlights);
  const auto t0 = std::chrono::steady_clock::now();
  std::vector<Record> records;
  for (const PictureSet* set : kPictureSets)
    if (std::any_of(conditions.begin(), conditions.end(), [&](const Condition& c) { return c.pictures == set; }))
      RunPictureSet(*set, conditions, o, methods, table, &records);
  PrintSummary(table, conditions, methods, records);
  PrintSizeSummary(table, conditions, methods, records);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::fprintf(table, "\n%zu blind jobs in %.0f s.\n", records.size(), wall);
  std::fclose(table);
  return records.empty() && !o.estimators.empty() ? 1 : 0;
}
