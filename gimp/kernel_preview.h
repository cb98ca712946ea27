// The estimated kernel as a picture for the dialog: grey, scaled to its
// largest entry, enlarged without smoothing so that each tap shows.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <opencv2/core.hpp>

namespace velmora::gimp {

// A new pixbuf of at most side x side pixels (a whole number of pixels per
// tap, at least one); null for an empty kernel.
GdkPixbuf* KernelPixbuf(const cv::Mat& kernel, int side);

}  // namespace velmora::gimp
