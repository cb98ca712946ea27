// numpy arrays to the engine's pictures and back. The engine takes OpenCV
// matrices in blue-green-red order at 8 or 16 bits or as 0-1 floats; Python
// users hand red-green-blue arrays of any of the common dtypes, and expect
// the dtype and shape they gave back.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <opencv2/core.hpp>

#include <vector>

namespace velmora::python {

namespace py = pybind11;

enum class ChannelOrder { kRgb, kBgr };

// A picture ready for the engine, and what its result is given back as.
struct Picture {
  cv::Mat pixels;              // grey or blue-green-red, CV_8U, CV_16U or CV_32F; owned
  py::dtype dtype;             // the array's dtype
  std::vector<py::ssize_t> shape;  // the array's shape
  ChannelOrder order = ChannelOrder::kRgb;
};

// Checks and copies an H x W or H x W x C (C = 1 or 3) array of uint8,
// uint16, float32 or float64; any memory layout. Throws py::value_error
// naming the problem: empty, the wrong number of dimensions or channels, an
// unsupported dtype, NaN or infinite samples.
Picture PictureFromArray(const py::array& image, ChannelOrder order);

// The engine's result (8-bit for 8-bit pictures, else 16-bit) as an array
// of the dtype, shape and channel order the picture came in: floats back on
// the 0-1 scale.
py::array ArrayFromPicture(const cv::Mat& restored, const Picture& like);

// A blur kernel given by the caller: 2-D, odd sides, finite samples, not
// larger than the picture. Negative entries become 0 and it is scaled to
// sum 1, as the command-line tool reads a kernel picture.
cv::Mat KernelFromArray(const py::array& kernel, int pictureRows, int pictureCols);

// A CV_32F kernel as a float32 array of its own.
py::array_t<float> KernelToArray(const cv::Mat& kernel);

}  // namespace velmora::python
