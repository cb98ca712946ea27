#include "python/arrays.h"

#include <opencv2/imgproc.hpp>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

namespace velmora::python {

namespace {

// "(400, 600, 3)", as numpy prints a shape.
std::string ShapeText(const py::array& a) {
  std::string text = "(";
  for (py::ssize_t i = 0; i < a.ndim(); ++i) text += (i ? ", " : "") + std::to_string(a.shape(i));
  return text + (a.ndim() == 1 ? ",)" : ")");
}

std::string DtypeName(const py::dtype& dtype) { return py::str(py::handle(dtype)).cast<std::string>(); }

// The OpenCV depth an array of this dtype is read at; -1 for one the
// engine cannot take. float64 has its own depth here and is narrowed to
// float32 after the copy.
int DepthOf(const py::dtype& dtype) {
  const char kind = dtype.kind();
  const py::ssize_t size = dtype.itemsize();
  if (kind == 'u' && size == 1) return CV_8U;
  if (kind == 'u' && size == 2) return CV_16U;
  if (kind == 'f' && size == 4) return CV_32F;
  if (kind == 'f' && size == 8) return CV_64F;
  return -1;
}

py::dtype NativeDtype(int depth) {
  switch (depth) {
    case CV_8U: return py::dtype::of<std::uint8_t>();
    case CV_16U: return py::dtype::of<std::uint16_t>();
    case CV_32F: return py::dtype::of<float>();
    default: return py::dtype::of<double>();
  }
}

// The largest sample of a depth: the engine's 0-1 scale times this.
double FullScale(int depth) {
  if (depth == CV_8U) return 255.0;
  if (depth == CV_16U) return 65535.0;
  return 1.0;
}

// A copy of the array's samples as a rows x cols matrix. The array may be
// strided, byte-swapped or a view: ensure() makes a C-ordered native copy
// when it is not one already, and the clone makes the picture the engine's
// own, so the caller may change the array while the job runs.
template <typename T>
cv::Mat CopyOf(const py::array& image, int depth, int channels) {
  auto samples = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(image);
  if (!samples) throw py::error_already_set();
  const cv::Mat view(static_cast<int>(image.shape(0)), static_cast<int>(image.shape(1)),
                     CV_MAKETYPE(depth, channels), const_cast<T*>(samples.data()));
  return view.clone();
}

int ChannelsOf(const py::array& image) {
  if (image.ndim() != 2 && image.ndim() != 3)
    throw py::value_error("a picture is an H x W (grey) or H x W x 3 (colour) array; this one has shape " +
                          ShapeText(image));
  const py::ssize_t channels = image.ndim() == 2 ? 1 : image.shape(2);
  if (channels != 1 && channels != 3)
    throw py::value_error("a picture has 1 channel (grey) or 3 (colour); this one has " +
                          std::to_string(channels) + (channels == 4 ? " (remove the alpha channel first)" : ""));
  if (image.size() == 0) throw py::value_error("the picture is empty: shape " + ShapeText(image));
  if (image.shape(0) > INT_MAX || image.shape(1) > INT_MAX)
    throw py::value_error("the picture is too large: shape " + ShapeText(image));
  return static_cast<int>(channels);
}

}  // namespace

Picture PictureFromArray(const py::array& image, ChannelOrder order) {
  const int depth = DepthOf(image.dtype());
  if (depth < 0)
    throw py::value_error("unsupported dtype " + DtypeName(image.dtype()) +
                          ": a picture is uint8, uint16, float32 or float64 (0 to 1)");
  const int channels = ChannelsOf(image);
  Picture picture;
  picture.dtype = image.dtype();
  picture.shape.assign(image.shape(), image.shape() + image.ndim());
  picture.order = order;
  switch (depth) {
    case CV_8U: picture.pixels = CopyOf<std::uint8_t>(image, depth, channels); break;
    case CV_16U: picture.pixels = CopyOf<std::uint16_t>(image, depth, channels); break;
    case CV_32F: picture.pixels = CopyOf<float>(image, depth, channels); break;
    default: CopyOf<double>(image, depth, channels).convertTo(picture.pixels, CV_32F); break;
  }
  // Doubles beyond float range became infinite above, and are refused too.
  if (depth == CV_32F || depth == CV_64F) {
    if (!cv::checkRange(picture.pixels, true))
      throw py::value_error("the picture holds samples that are not finite numbers (NaN or infinity)");
  }
  if (channels == 3 && order == ChannelOrder::kRgb) cv::cvtColor(picture.pixels, picture.pixels, cv::COLOR_RGB2BGR);
  return picture;
}

py::array ArrayFromPicture(const cv::Mat& restored, const Picture& like) {
  cv::Mat ordered = restored;
  if (restored.channels() == 3 && like.order == ChannelOrder::kRgb)
    cv::cvtColor(restored, ordered, cv::COLOR_BGR2RGB);
  const int depth = DepthOf(like.dtype);
  cv::Mat samples;
  ordered.convertTo(samples, depth, FullScale(depth) / FullScale(ordered.depth()));
  // Filled in the machine's byte order, then given the caller's own dtype
  // (a big-endian one, say) if it differs.
  py::array out(NativeDtype(depth), like.shape);
  const size_t bytes = samples.total() * samples.elemSize();
  if (static_cast<size_t>(out.nbytes()) != bytes || !samples.isContinuous())
    throw std::runtime_error("the result does not have the picture's size");
  std::memcpy(out.mutable_data(), samples.data, bytes);
  return out.attr("astype")(like.dtype, py::arg("copy") = false);
}

cv::Mat KernelFromArray(const py::array& kernel, int pictureRows, int pictureCols) {
  const char kind = kernel.dtype().kind();
  if (kind != 'f' && kind != 'u' && kind != 'i')
    throw py::value_error("unsupported kernel dtype " + DtypeName(kernel.dtype()) + ": expected numbers");
  if (kernel.ndim() != 2 || kernel.size() == 0)
    throw py::value_error("a kernel is a non-empty 2-D array; this one has shape " + ShapeText(kernel));
  if (kernel.shape(0) % 2 == 0 || kernel.shape(1) % 2 == 0)
    throw py::value_error("a kernel has odd sides; this one has shape " + ShapeText(kernel));
  if (kernel.shape(0) > pictureRows || kernel.shape(1) > pictureCols)
    throw py::value_error("the kernel " + ShapeText(kernel) + " is larger than the picture (" +
                          std::to_string(pictureRows) + ", " + std::to_string(pictureCols) + ")");
  // In single precision from the start, as the command-line tool reads a
  // kernel picture (io/kernel_file.cpp), so that both restore alike.
  auto taps = py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(kernel);
  if (!taps) throw py::error_already_set();
  const cv::Mat view(static_cast<int>(kernel.shape(0)), static_cast<int>(kernel.shape(1)), CV_32F,
                     const_cast<float*>(taps.data()));
  if (!cv::checkRange(view, true))
    throw py::value_error("the kernel holds entries that are not finite numbers (NaN or infinity)");
  cv::Mat positive = cv::max(view, 0.0);
  const double sum = cv::sum(positive)[0];
  if (!(sum > 0.0) || !std::isfinite(sum)) throw py::value_error("the kernel has no positive entry");
  cv::Mat normalised;
  positive.convertTo(normalised, CV_32F, 1.0 / sum);
  return normalised;
}

py::array_t<float> KernelToArray(const cv::Mat& kernel) {
  cv::Mat taps;
  kernel.convertTo(taps, CV_32F);
  py::array_t<float> out({static_cast<py::ssize_t>(taps.rows), static_cast<py::ssize_t>(taps.cols)});
  for (int i = 0; i < taps.rows; ++i)
    std::memcpy(out.mutable_data(i, 0), taps.ptr<float>(i), sizeof(float) * static_cast<size_t>(taps.cols));
  return out;
}

}  // namespace velmora::python
