// The module's help texts, in numpydoc form, as help() shows them.
#pragma once

namespace velmora::python {

inline constexpr const char* kModuleDoc = R"(Removes camera-shake blur from photographs.

The blur kernel is estimated from the picture itself, coarse to fine, and
the picture is restored with it by total-variation deconvolution. Pictures
are numpy arrays: H x W (grey) or H x W x 3 (colour, red-green-blue unless
told otherwise), uint8, uint16, float32 or float64 (0 to 1).

Functions
---------
deblur       Estimate the blur and restore the picture (blind deconvolution).
deconvolve   Restore the picture with a blur kernel you know.

Exceptions
----------
EstimationError   The kernel could not be estimated.
)";

inline constexpr const char* kDeblurDoc = R"(Remove camera-shake blur from a picture without being told the blur.

Parameters
----------
image : ndarray
    H x W (grey) or H x W x 3 (colour) array of uint8, uint16, float32 or
    float64 (on the 0-1 scale). Any memory layout: non-contiguous arrays
    are copied. Each side must hold three blur sizes.
blur_size : str, int or tuple of int, optional
    "auto" (default) finds the size, up to a third of each side of the
    picture (or region) and at most 121; "small" (19), "medium" (31),
    "large" (51), an odd number from 3 to 121, or (height, width) of such
    numbers gives the largest blur expected.
estimator : {"sharp", "classic"}, optional
    How the kernel is estimated. "sharp" (default) favours few, strong
    edges and suits long or thin shakes; "classic" is faster and often
    better on textured subjects.
smoothness : float, optional
    Weight of the restore's smoothness prior, 0.0 to 0.2 (default 0.04):
    more suppresses more noise and more fine detail.
reduce_ringing : bool, optional
    A second, smoother solve that suppresses ringing near strong edges.
reduce_noise : bool, optional
    The noise-robust (TV-L1) solver instead of the least-squares one.
gamma : float, optional
    Gamma of the estimation's working picture: 1.0 (default) or 2.2.
region : tuple of float, optional
    (x, y, width, height), fractions of the picture's width and height,
    origin top-left: the kernel is estimated there, and only there is the
    picture restored unless `whole` is set. At least 200 pixels, and three
    blur sizes, on each side.
whole : bool, optional
    With `region`: restore the whole picture with the region's kernel.
processor : {"cpu", "gpu"}, optional
    "gpu" restores on an NVIDIA GPU where one is usable, else on the CPU
    with a line in `notices`.
progress : callable, optional
    Called as ``progress(percent)`` from the calling thread with the
    percentage done (a float, 0 to 100), each time it has risen, the last
    time with 100.0. What it raises stops the job and propagates.
channel_order : {"rgb", "bgr"}, optional
    The order of a colour picture's channels; "bgr" for arrays from OpenCV.
highlights : {"model", "keep"}, optional
    "model" (default) takes the samples of clipped lamps in night pictures
    as lower bounds; "keep" takes every sample as measured. A picture that
    shows no clipped lamps is restored the same either way.

Returns
-------
Result
    ``image``: the restored picture, of the dtype, shape and channel order
    given (float pictures come back on the 0-1 scale at 16-bit precision);
    ``kernel``: the estimated blur, float32, summing to 1; ``blur_size``:
    its (height, width); ``seconds``: the engine's time; ``notices``: lines
    for the user (why the job ran on the CPU though the GPU was asked).

Raises
------
ValueError
    Bad input: an empty picture, the wrong number of dimensions or
    channels, an unsupported dtype, NaN or infinite samples, a bad blur
    size, a blur the picture cannot hold, a region too small, a bad name.
EstimationError
    "Insufficient information. Please try larger patch or adjust the kernel
    size.": no kernel could be estimated; try a larger region or another
    blur size.
MemoryError
    The job does not fit in the memory this process may use; the text
    gives the figures.
KeyboardInterrupt
    Ctrl-C: the job stops within a fraction of a second.

Notes
-----
The interpreter is free while the engine works: other Python threads run.
The engine serves one job at a time: calls from several threads at once
are served one after another, each with its own correct result. Ctrl-C
is felt within about 50 ms plus the engine's own checkpoint interval, when
called from the main thread (Python delivers signals there only).

The command-line tool ``velmora-deblur`` with the same settings
(``--estimator sharp``; lamps are modelled there too) writes the same
pixels, given the same saved transform plans: the module takes those in
``$XDG_CACHE_HOME/velmora`` but measures none itself.

Examples
--------
>>> import numpy as np, velmora
>>> blurred = np.load("blurred.npy")         # H x W x 3, uint8, RGB
>>> result = velmora.deblur(blurred)
>>> result.image.dtype, result.image.shape == blurred.shape
(dtype('uint8'), True)
>>> result.blur_size                         # (height, width) found
(21, 19)
)";

inline constexpr const char* kDeconvolveDoc = R"(Restore a picture with a blur kernel you know (non-blind deconvolution).

Parameters
----------
image : ndarray
    H x W or H x W x 3 array of uint8, uint16, float32 or float64 (0 to 1),
    as for `deblur`.
kernel : ndarray
    2-D array of numbers with odd sides, not larger than the picture.
    Negative entries are taken as 0 and the kernel is scaled to sum 1.
smoothness : float, optional
    Weight of the smoothness prior, 0.0 to 0.2 (default 0.04).
reduce_ringing : bool, optional
    A second, smoother solve that suppresses ringing near strong edges.
reduce_noise : bool, optional
    The noise-robust (TV-L1) solver.
highlights : {"model", "keep"}, optional
    How the samples of clipped lamps are taken, as for `deblur`.
processor : {"cpu", "gpu"}, optional
    Where the restore runs, as for `deblur`.
progress : callable, optional
    Called with the percentage done, as for `deblur`.
channel_order : {"rgb", "bgr"}, optional
    The order of a colour picture's channels.

Returns
-------
ndarray
    The restored picture, of the dtype, shape and channel order given.

Raises
------
ValueError
    A bad picture (as for `deblur`) or kernel: not 2-D, an even side,
    larger than the picture, NaN or infinite entries, none positive.
MemoryError
    The job does not fit in the memory this process may use.
KeyboardInterrupt
    Ctrl-C stops the job.

Notes
-----
As `deblur`, this releases the interpreter while it works and takes its
turn with the other threads' jobs.

Examples
--------
>>> kernel = np.zeros((9, 9)); kernel[4, :] = 1      # a horizontal shake
>>> sharp = velmora.deconvolve(blurred, kernel, smoothness=0.02)
)";

inline constexpr const char* kResultDoc = R"(What `deblur` gives back.

Attributes
----------
image : ndarray
    The restored picture, of the dtype, shape and channel order given.
kernel : ndarray
    The estimated blur kernel, float32, non-negative, summing to 1.
blur_size : tuple of int
    The kernel's (height, width): the size found with blur_size="auto".
seconds : float
    The engine's working time.
notices : list of str
    Lines for the user, such as why the job ran on the CPU.
)";

}  // namespace velmora::python
