// The Python arguments of a job turned into the engine's request, each
// checked with the command-line tool's rules and texts (py::value_error).
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "python/arrays.h"
#include "velmora/deblur.h"

namespace velmora::python {

namespace py = pybind11;

// deblur()'s settings as Python gave them.
struct BlindSettings {
  py::object blurSize;  // "auto", "small", "medium", "large", an odd int, or (height, width)
  std::string estimator;
  float smoothness = 0.04f;
  bool reduceRinging = false;
  bool reduceNoise = false;
  float gamma = 1.0f;
  py::object region;  // None, or (x, y, width, height) fractions
  bool whole = false;
  std::string processor;
  std::string highlights;
};

// The request for a blind job on a rows x cols picture: the whole picture,
// the region, or the region then the whole picture; "auto" searches within
// the largest size the picture (or region) allows.
DeblurRequest BlindRequest(const BlindSettings& settings, int rows, int cols);

// The request for a restore with a kernel already checked and normalised.
DeblurRequest KnownKernelRequest(const cv::Mat& kernel, float smoothness, bool reduceRinging,
                                 bool reduceNoise, const std::string& highlights,
                                 const std::string& processor);

// "rgb" or "bgr", in any letter case.
ChannelOrder ParseChannelOrder(const std::string& name);

}  // namespace velmora::python
