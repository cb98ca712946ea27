// The Python module velmora: deblur() and deconvolve() over numpy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "python/arrays.h"
#include "python/docstrings.h"
#include "python/job.h"
#include "python/request.h"

namespace velmora::python {

namespace {

struct Result {
  py::array image;
  py::array_t<float> kernel;
  py::tuple blurSize;
  double seconds = 0.0;
  std::vector<std::string> notices;
};

std::string ResultRepr(const Result& r) {
  auto text = [](const py::handle& value) { return py::str(value).cast<std::string>(); };
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
  return "<velmora.Result image=" + text(r.image.attr("shape")) + " " + text(r.image.dtype()) +
         ", blur_size=" + text(r.blurSize) + ", seconds=" + seconds + ">";
}

Result Deblur(const py::array& image, const py::object& blurSize, const std::string& estimator,
              double smoothness, bool reduceRinging, bool reduceNoise, double gamma, const py::object& region,
              bool whole, const std::string& processor, const py::object& progress,
              const std::string& channelOrder, const std::string& highlights) {
  const Picture picture = PictureFromArray(image, ParseChannelOrder(channelOrder));
  // Single precision, as the engine and the command-line tool take them.
  const BlindSettings settings{blurSize,
                               estimator,
                               static_cast<float>(smoothness),
                               reduceRinging,
                               reduceNoise,
                               static_cast<float>(gamma),
                               region,
                               whole,
                               processor,
                               highlights};
  const DeblurRequest request = BlindRequest(settings, picture.pixels.rows, picture.pixels.cols);
  const DeblurOutcome outcome = RunJob(request, picture.pixels, progress);
  Result result;
  result.image = ArrayFromPicture(outcome.picture, picture);
  result.kernel = KernelToArray(outcome.kernel);
  result.blurSize = py::make_tuple(outcome.kernel.rows, outcome.kernel.cols);
  result.seconds = outcome.seconds;
  result.notices = outcome.notices;
  return result;
}

py::array Deconvolve(const py::array& image, const py::array& kernel, double smoothness, bool reduceRinging,
                     bool reduceNoise, const std::string& highlights, const std::string& processor,
                     const py::object& progress, const std::string& channelOrder) {
  const Picture picture = PictureFromArray(image, ParseChannelOrder(channelOrder));
  const cv::Mat taps = KernelFromArray(kernel, picture.pixels.rows, picture.pixels.cols);
  const DeblurRequest request =
      KnownKernelRequest(taps, static_cast<float>(smoothness), reduceRinging, reduceNoise, highlights, processor);
  const DeblurOutcome outcome = RunJob(request, picture.pixels, progress);
  return ArrayFromPicture(outcome.picture, picture);
}

}  // namespace

}  // namespace velmora::python

PYBIND11_MODULE(velmora, m) {
  namespace py = pybind11;
  using namespace velmora::python;
  using namespace pybind11::literals;
  m.doc() = kModuleDoc;
  py::register_exception<EstimationFailed>(m, "EstimationError", PyExc_RuntimeError);
  m.attr("EstimationError").attr("__doc__") =
      "The blur kernel could not be estimated: try a larger region or another blur size.";

  py::class_<Result>(m, "Result", kResultDoc)
      .def_readonly("image", &Result::image)
      .def_readonly("kernel", &Result::kernel)
      .def_readonly("blur_size", &Result::blurSize)
      .def_readonly("seconds", &Result::seconds)
      .def_readonly("notices", &Result::notices)
      .def("__repr__", &ResultRepr);

  m.def("deblur", &Deblur, kDeblurDoc, "image"_a, "blur_size"_a = "auto",
        "estimator"_a = "sharp", "smoothness"_a = 0.04, "reduce_ringing"_a = false, "reduce_noise"_a = false,
        "gamma"_a = 1.0, "region"_a = py::none(), "whole"_a = false, "processor"_a = "cpu",
        "progress"_a = py::none(), "channel_order"_a = "rgb", "highlights"_a = "model");
  m.def("deconvolve", &Deconvolve, kDeconvolveDoc, "image"_a, "kernel"_a, "smoothness"_a = 0.04,
        "reduce_ringing"_a = false, "reduce_noise"_a = false, "highlights"_a = "model", "processor"_a = "cpu",
        "progress"_a = py::none(), "channel_order"_a = "rgb");
  m.attr("__version__") = VELMORA_VERSION;
}
