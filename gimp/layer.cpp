#include "gimp/layer.h"

#include <opencv2/imgproc.hpp>

#include <string>
#include <vector>

namespace velmora::gimp {

namespace {

// "u8", "u16" or "float": how samples of this image's precision are read.
const char* SampleType(gint32 drawable, int* depth) {
  switch (gimp_image_get_precision(gimp_item_get_image(drawable))) {
    case GIMP_PRECISION_U8_LINEAR:
    case GIMP_PRECISION_U8_GAMMA:
      *depth = CV_8U;
      return "u8";
    case GIMP_PRECISION_U16_LINEAR:
    case GIMP_PRECISION_U16_GAMMA:
      *depth = CV_16U;
      return "u16";
    default:
      *depth = CV_32F;
      return "float";
  }
}

double FullScale(int depth) { return depth == CV_8U ? 255.0 : depth == CV_16U ? 65535.0 : 1.0; }

// Splits the samples read (grey or RGB, with or without alpha) into the
// engine's picture and the alpha.
void Split(const cv::Mat& samples, bool colour, LayerPixels* pixels) {
  const int colours = colour ? 3 : 1;
  pixels->picture.create(samples.size(), CV_MAKETYPE(samples.depth(), colours));
  if (samples.channels() > colours) pixels->alpha.create(samples.size(), CV_MAKETYPE(samples.depth(), 1));
  std::vector<cv::Mat> to{pixels->picture};
  std::vector<int> pairs = colour ? std::vector<int>{0, 2, 1, 1, 2, 0} : std::vector<int>{0, 0};
  if (!pixels->alpha.empty()) {
    to.push_back(pixels->alpha);
    pairs.insert(pairs.end(), {colours, colours});
  }
  cv::mixChannels(std::vector<cv::Mat>{samples}, to, pairs);
}

}  // namespace

LayerPixels ReadLayer(gint32 drawable) {
  int depth = CV_8U;
  const std::string type = SampleType(drawable, &depth);
  const bool colour = gimp_drawable_is_rgb(drawable);
  const bool alpha = gimp_drawable_has_alpha(drawable);
  const std::string model = std::string(colour ? "R'G'B'" : "Y'") + (alpha ? "A" : "");
  LayerPixels pixels;
  pixels.format = babl_format((model + " " + type).c_str());
  const int channels = (colour ? 3 : 1) + (alpha ? 1 : 0);
  cv::Mat samples(gimp_drawable_height(drawable), gimp_drawable_width(drawable), CV_MAKETYPE(depth, channels));
  GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
  gegl_buffer_get(buffer, GEGL_RECTANGLE(0, 0, samples.cols, samples.rows), 1.0, pixels.format, samples.data,
                  GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  g_object_unref(buffer);
  Split(samples, colour, &pixels);
  return pixels;
}

void WriteLayer(gint32 image, gint32 drawable, const cv::Mat& restored, const LayerPixels& read) {
  // The result back at the depth the layer was read at (floats from 16 bits).
  cv::Mat picture;
  restored.convertTo(picture, read.picture.depth(), FullScale(read.picture.depth()) / FullScale(restored.depth()));
  const bool colour = picture.channels() == 3;
  cv::Mat samples(picture.size(), CV_MAKETYPE(picture.depth(), picture.channels() + (read.alpha.empty() ? 0 : 1)));
  std::vector<cv::Mat> from{picture};
  std::vector<int> pairs = colour ? std::vector<int>{2, 0, 1, 1, 0, 2} : std::vector<int>{0, 0};
  if (!read.alpha.empty()) {
    from.push_back(read.alpha);
    pairs.insert(pairs.end(), {picture.channels(), picture.channels()});
  }
  cv::mixChannels(from, std::vector<cv::Mat>{samples}, pairs);

  gimp_image_undo_group_start(image);
  gint32 selection = -1;
  if (!gimp_selection_is_empty(image)) {
    selection = gimp_selection_save(image);
    gimp_selection_none(image);
  }
  GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(drawable);
  gegl_buffer_set(shadow, GEGL_RECTANGLE(0, 0, samples.cols, samples.rows), 0, read.format, samples.data,
                  GEGL_AUTO_ROWSTRIDE);
  gegl_buffer_flush(shadow);
  g_object_unref(shadow);
  gimp_drawable_merge_shadow(drawable, TRUE);
  gimp_drawable_update(drawable, 0, 0, samples.cols, samples.rows);
  if (selection != -1) {
    gimp_image_select_item(image, GIMP_CHANNEL_OP_REPLACE, selection);
    gimp_image_remove_channel(image, selection);
  }
  gimp_image_undo_group_end(image);
}

std::optional<DeblurRegion> SelectionRegion(gint32 image, gint32 drawable, bool* outside) {
  *outside = false;
  if (gimp_selection_is_empty(image)) return std::nullopt;
  gint x = 0, y = 0, width = 0, height = 0;
  if (!gimp_drawable_mask_intersect(drawable, &x, &y, &width, &height) || width <= 0 || height <= 0) {
    *outside = true;
    return std::nullopt;
  }
  const double cols = gimp_drawable_width(drawable), rows = gimp_drawable_height(drawable);
  return DeblurRegion{x / cols, y / rows, width / cols, height / rows};
}

}  // namespace velmora::gimp
