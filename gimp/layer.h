// A GIMP layer's pixels for the engine and back, through GEGL buffers, at
// the image's precision: 8-bit and 16-bit images are read as they are
// stored ("R'G'B' u8", "R'G'B' u16"), every other precision as
// perceptual floats. The engine restores the gamma-coded values a camera
// stores, as velmora-deblur restores a file's.
#pragma once

#include <libgimp/gimp.h>

#include <opencv2/core.hpp>

#include <optional>

#include "velmora/deblur.h"

namespace velmora::gimp {

struct LayerPixels {
  cv::Mat picture;  // grey or blue-green-red: CV_8U, CV_16U or CV_32F
  cv::Mat alpha;    // the layer's alpha, left as it is; empty without one
  const Babl* format = nullptr;  // what the layer is read and written as
};

LayerPixels ReadLayer(gint32 drawable);

// Writes the engine's result (8-bit, or 16-bit for deeper pictures) over
// the whole layer, with its alpha, as one undo step. A selection, which
// made the region the kernel was estimated on, does not mask the write:
// it is set aside for the write and put back.
void WriteLayer(gint32 image, gint32 drawable, const cv::Mat& restored, const LayerPixels& read);

// The selection's bounds within the layer, as fractions of the layer;
// none without a selection. *outside is set when there is a selection
// that misses the layer.
std::optional<DeblurRegion> SelectionRegion(gint32 image, gint32 drawable, bool* outside);

}  // namespace velmora::gimp
