#include "tools/shake.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::tools {

namespace {

// Draws from mt19937_64 with our own uniform and normal transforms: the
// standard distributions differ between library implementations, and the
// figures made with these kernels must be reproducible anywhere.
class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}

  // Uniform in [0, 1) with 53 random bits.
  double Uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

  double Normal() {
    if (hasSpare_) {
      hasSpare_ = false;
      return spare_;
    }
    // Box-Muller; 1 - u keeps the logarithm's argument in (0, 1].
    const double radius = std::sqrt(-2.0 * std::log(1.0 - Uniform()));
    const double angle = 2.0 * std::numbers::pi * Uniform();
    spare_ = radius * std::sin(angle);
    hasSpare_ = true;
    return radius * std::cos(angle);
  }

 private:
  std::mt19937_64 engine_;
  double spare_ = 0.0;
  bool hasSpare_ = false;
};

struct Point {
  double x = 0.0, y = 0.0;
};

struct Sample {
  Point p;
  double weight = 0.0;
};

// A hand-held camera's path: the velocity keeps most of its previous value
// (inertia), takes a small random step each instant, now and then a larger
// jerk, and a weak pull back towards the start keeps the path compact.
std::vector<Point> CameraTrajectory(Random& random) {
  constexpr int kSteps = 240;
  constexpr double kPull = 0.0008;
  const double inertia = 0.90 + 0.08 * random.Uniform();
  const double jitter = 0.04 + 0.08 * random.Uniform();
  const double jerkChance = 0.01 + 0.02 * random.Uniform();
  const double heading = 2.0 * std::numbers::pi * random.Uniform();
  Point v{std::cos(heading), std::sin(heading)};
  Point p;
  std::vector<Point> path{p};
  path.reserve(kSteps + 1);
  for (int t = 0; t < kSteps; ++t) {
    double dx = jitter * random.Normal();
    double dy = jitter * random.Normal();
    if (random.Uniform() < jerkChance) {
      const double angle = 2.0 * std::numbers::pi * random.Uniform();
      const double strength = 0.4 + 0.8 * random.Uniform();
      dx += strength * std::cos(angle);
      dy += strength * std::sin(angle);
    }
    v.x = inertia * v.x + dx - kPull * p.x;
    v.y = inertia * v.y + dy - kPull * p.y;
    p.x += v.x;
    p.y += v.y;
    path.push_back(p);
  }
  return path;
}

// A sweep: the heading turns steadily with a slow wobble, the speed swells
// and fades, and each instant gets the same exposure, so the fast stretches
// are faint.
std::vector<Point> SweepTrajectory(Random& random) {
  constexpr int kSteps = 240;
  const double heading = 2.0 * std::numbers::pi * random.Uniform();
  const double turn = (random.Uniform() < 0.5 ? -1.0 : 1.0) * (0.3 + 1.0 * random.Uniform()) * std::numbers::pi;
  const double wobble = 0.3 * random.Uniform(), wobblePhase = 2.0 * std::numbers::pi * random.Uniform();
  const double swell = 0.5 + 0.45 * random.Uniform(), swellPhase = 2.0 * std::numbers::pi * random.Uniform();
  const double swellCycles = 1.0 + 2.0 * random.Uniform();
  Point p;
  std::vector<Point> path{p};
  path.reserve(kSteps + 1);
  for (int t = 0; t < kSteps; ++t) {
    const double s = static_cast<double>(t) / kSteps;
    const double angle = heading + turn * s + wobble * std::sin(4.0 * std::numbers::pi * s + wobblePhase);
    const double speed = 1.0 + swell * std::sin(2.0 * std::numbers::pi * swellCycles * s + swellPhase);
    p.x += speed * std::cos(angle);
    p.y += speed * std::sin(angle);
    path.push_back(p);
  }
  return path;
}

Point Centroid(const std::vector<Sample>& samples) {
  double sx = 0.0, sy = 0.0, sw = 0.0;
  for (const Sample& s : samples) {
    sx += s.weight * s.p.x;
    sy += s.weight * s.p.y;
    sw += s.weight;
  }
  return {sx / sw, sy / sw};
}

double LargestOffset(const std::vector<Point>& points, Point centre) {
  double r = 0.0;
  for (const Point& q : points) r = std::max({r, std::abs(q.x - centre.x), std::abs(q.y - centre.y)});
  return r;
}

// Equal exposure per time step: each segment of the path gets the same mass,
// spread over sub-samples at most `spacing` apart so the line is unbroken.
std::vector<Sample> ExposureSamples(const std::vector<Point>& path, double scale, double spacing) {
  std::vector<Sample> samples;
  for (size_t i = 1; i < path.size(); ++i) {
    const Point a = path[i - 1], b = path[i];
    const double length = scale * std::hypot(b.x - a.x, b.y - a.y);
    const int pieces = std::max(1, static_cast<int>(std::ceil(length / spacing)));
    for (int k = 0; k < pieces; ++k) {
      const double t = (k + 0.5) / pieces;
      samples.push_back({{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)}, 1.0 / pieces});
    }
  }
  return samples;
}

// Bilinear splatting keeps each sample's centre of mass where the sample is,
// so the kernel's centre of mass is exactly the samples' centroid.
void Splat(const Sample& s, cv::Mat* kernel) {
  const int c0 = static_cast<int>(std::floor(s.p.x));
  const int r0 = static_cast<int>(std::floor(s.p.y));
  const double fx = s.p.x - c0, fy = s.p.y - r0;
  const double share[2][2] = {{(1 - fy) * (1 - fx), (1 - fy) * fx}, {fy * (1 - fx), fy * fx}};
  for (int dr = 0; dr < 2; ++dr)
    for (int dc = 0; dc < 2; ++dc) {
      const int r = r0 + dr, c = c0 + dc;
      if (share[dr][dc] > 0.0 && r >= 0 && c >= 0 && r < kernel->rows && c < kernel->cols)
        kernel->at<double>(r, c) += s.weight * share[dr][dc];
    }
}

}  // namespace

cv::Mat GenerateShakeKernel(int size, uint64_t seed, ShakeKind kind) {
  if (size < 3 || size % 2 == 0)
    throw std::invalid_argument("shake kernel size must be odd and at least 3, got " +
                                std::to_string(size));
  Random random(seed);
  const std::vector<Point> path =
      kind == ShakeKind::kSweep ? SweepTrajectory(random) : CameraTrajectory(random);
  const double half = (size - 1) / 2.0;
  // Between 70 and 95 % of the half-side, so the blur is clearly of the
  // requested size without touching the border.
  const double reach = half * (0.70 + 0.25 * random.Uniform());

  Point start;
  for (const Point& q : path) start = {start.x + q.x / path.size(), start.y + q.y / path.size()};
  const double rawOffset = std::max(LargestOffset(path, start), 1e-9);
  std::vector<Sample> samples = ExposureSamples(path, reach / rawOffset, 0.2);

  // Scale about the exact exposure centroid: the centroid stays put and
  // lands on the centre tap.
  const Point c = Centroid(samples);
  double offset = 0.0;
  for (const Sample& s : samples)
    offset = std::max({offset, std::abs(s.p.x - c.x), std::abs(s.p.y - c.y)});
  const double factor = offset > 0.0 ? reach / offset : 0.0;
  cv::Mat accumulated(size, size, CV_64F, cv::Scalar(0));
  for (Sample& s : samples) {
    s.p = {half + (s.p.x - c.x) * factor, half + (s.p.y - c.y) * factor};
    Splat(s, &accumulated);
  }
  accumulated /= cv::sum(accumulated)[0];
  cv::Mat kernel;
  accumulated.convertTo(kernel, CV_32F);
  return kernel;
}

cv::Mat BlurImage(const cv::Mat& image, const cv::Mat& kernel, double noiseSigma, uint64_t seed) {
  if (image.empty() || image.depth() != CV_32F || (image.channels() != 1 && image.channels() != 3))
    throw std::invalid_argument("BlurImage needs a non-empty CV_32F picture with 1 or 3 channels");
  if (kernel.empty() || kernel.channels() != 1 || kernel.rows % 2 == 0 || kernel.cols % 2 == 0)
    throw std::invalid_argument("BlurImage needs a single-channel kernel with odd sides");
  if (!(noiseSigma >= 0.0) || !std::isfinite(noiseSigma))
    throw std::invalid_argument("BlurImage needs a finite, non-negative noise sigma");

  // filter2D correlates; correlating with the flipped kernel convolves.
  cv::Mat taps, flipped, blurred;
  kernel.convertTo(taps, CV_32F);
  cv::flip(taps, flipped, -1);
  cv::filter2D(image, blurred, CV_32F, flipped, cv::Point(-1, -1), 0.0, cv::BORDER_REPLICATE);
  if (noiseSigma > 0.0) {
    Random random(seed);
    for (int i = 0; i < blurred.rows; ++i) {
      float* row = blurred.ptr<float>(i);
      for (int j = 0; j < blurred.cols * blurred.channels(); ++j)
        row[j] += static_cast<float>(noiseSigma * random.Normal());
    }
  }
  return blurred;
}

}  // namespace velmora::tools
