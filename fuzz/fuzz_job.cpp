// The engine on odd pictures: a 200 x 200 colour picture made from the
// input bytes, NaN, infinities, huge, tiny, negative and constant samples
// among them, restored blindly (either estimator) or with a kernel also made
// from the bytes, blur sizes 3 to 9. Whatever the data, an entry returns
// one of its documented results, and a success has finite output.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "pipeline/engine.h"
#include "pipeline/job_context.h"

namespace {

constexpr int kRows = 200, kCols = 200, kChannels = 3;

float Sample(uint8_t byte) {
  switch (byte) {
    case 0xF0: return std::numeric_limits<float>::quiet_NaN();
    case 0xF1: return std::numeric_limits<float>::infinity();
    case 0xF2: return -std::numeric_limits<float>::infinity();
    case 0xF3: return 1e30f;
    case 0xF4: return -1e30f;
    case 0xF5: return std::numeric_limits<float>::denorm_min();
    case 0xF6: return std::numeric_limits<float>::max();
    case 0xF7: return -0.0f;
    default: return static_cast<float>(byte) / 239.0f;
  }
}

// The bytes after the header, repeated to fill `count` samples; none: a
// constant picture.
std::vector<float> Samples(const uint8_t* data, size_t size, size_t count) {
  std::vector<float> samples(count, 0.5f);
  if (size > 0)
    for (size_t i = 0; i < count; ++i) samples[i] = Sample(data[i % size]);
  return samples;
}

bool Documented(int result, bool blind) {
  if (result == kEngineOutOfMemory || result == kEngineInvalidArgument || result == kEngineInternalError) return true;
  return blind ? (result == 0 || result == 1) : result == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int side = 3 + 2 * (data[0] % 4);
  const uint8_t flags = data[1];
  const bool sharp = flags & 1, ringing = flags & 2, noise = flags & 4, known = flags & 16;
  const float gamma = (flags & 8) ? 2.2f : 1.0f;
  data += 2, size -= 2;

  const std::vector<float> input = Samples(data, size, static_cast<size_t>(kRows) * kCols * kChannels);
  std::vector<float> output(input.size(), 0.0f);
  velmora::JobContext context;
  context.log = [](const char*) {};
  const velmora::JobContextScope scope(&context);
  int result;
  if (known) {
    // The kernel from the bytes as well: used as given, not normalised.
    const std::vector<float> kernel = Samples(data + size / 2, size - size / 2, static_cast<size_t>(side) * side);
    result = DeblurWithKernel(input.data(), output.data(), kernel.data(), kRows, kCols, kChannels, side, side, 0.04f,
                              ringing, noise, true, nullptr);
  } else {
    std::vector<float> kernel(static_cast<size_t>(side) * side, 0.0f);
    result = sharp ? DeblurImageSharp(input.data(), output.data(), kRows, kCols, kChannels, kernel.data(), side, side,
                                      gamma, 0.04f, ringing, noise, true, nullptr)
                   : DeblurImage(input.data(), output.data(), kRows, kCols, kChannels, kernel.data(), side, side,
                                 gamma, 1.0f, 0.04f, ringing, noise, true, nullptr);
  }
  if (!Documented(result, !known)) __builtin_trap();
  // Non-finite samples are refused; a picture within a generous range of
  // the 0-1 scale comes back finite. (Samples near the float limits may
  // overflow inside the solves: the job's pictures never hold them.)
  const auto pictureLike = [](const std::vector<float>& v) {
    return std::all_of(v.begin(), v.end(), [](float s) { return std::isfinite(s) && std::abs(s) <= 4.0f; });
  };
  const bool succeeded = known ? result == 0 : result == 1;
  if (!std::all_of(input.begin(), input.end(), [](float s) { return std::isfinite(s); }) && result != kEngineInvalidArgument)
    __builtin_trap();
  if (succeeded && pictureLike(input))
    for (float v : output)
      if (!std::isfinite(v)) __builtin_trap();
  return 0;
}
