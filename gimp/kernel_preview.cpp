#include "gimp/kernel_preview.h"

#include <algorithm>

namespace velmora::gimp {

GdkPixbuf* KernelPixbuf(const cv::Mat& kernel, int side) {
  if (kernel.empty()) return nullptr;
  cv::Mat taps;
  kernel.convertTo(taps, CV_32F);
  double largest = 0.0;
  cv::minMaxLoc(taps, nullptr, &largest);
  const int scale = std::max(1, side / std::max(taps.rows, taps.cols));
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, taps.cols * scale, taps.rows * scale);
  if (!pixbuf) return nullptr;
  guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  for (int y = 0; y < taps.rows * scale; ++y)
    for (int x = 0; x < taps.cols * scale; ++x) {
      const float tap = taps.at<float>(y / scale, x / scale);
      const double level = largest > 0.0 ? std::clamp(tap / largest, 0.0, 1.0) : 0.0;
      guchar* pixel = pixels + y * stride + x * 3;
      pixel[0] = pixel[1] = pixel[2] = static_cast<guchar>(level * 255.0 + 0.5);
    }
  return pixbuf;
}

}  // namespace velmora::gimp
