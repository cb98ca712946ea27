// Maps image-library failures inside the engine onto engine results.
#pragma once

#include <opencv2/core.hpp>

#include "pipeline/engine.h"

namespace velmora {

inline int EngineResultFor(const cv::Exception& e) {
  return e.code == cv::Error::StsNoMem ? kEngineOutOfMemory : kEngineInternalError;
}

}  // namespace velmora
