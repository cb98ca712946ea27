// Runs one engine job from Python: one job at a time, the interpreter free
// while it runs, Ctrl-C and the progress callback served from the calling
// thread, and every failure raised as the Python exception that fits it.
#pragma once

#include <pybind11/pybind11.h>

#include <opencv2/core.hpp>

#include <stdexcept>

#include "velmora/deblur.h"

namespace velmora::python {

namespace py = pybind11;

// Raised as velmora.EstimationError: the kernel could not be estimated.
struct EstimationFailed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Runs request on picture (called with the GIL held) and returns the
// successful outcome. The engine is not re-entrant: calls from several
// threads take turns. While the job runs (on a worker thread) the GIL is
// released; every 50 ms the calling thread takes it back to run pending
// signal handlers and to call progress (a callable, or None) with the
// percentage done when it has risen. A handler or progress that raises
// (KeyboardInterrupt for Ctrl-C) stops the job, which ends within a
// fraction of a second, and the exception propagates. Other failures raise
// ValueError, MemoryError, EstimationFailed or RuntimeError with the
// command-line tool's texts.
DeblurOutcome RunJob(const DeblurRequest& request, const cv::Mat& picture, const py::object& progress);

}  // namespace velmora::python
