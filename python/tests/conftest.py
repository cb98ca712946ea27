"""Shared pieces of the module's tests: where the built tools and the
samples are (ctest passes them in the environment), the samples read once,
and the kernel similarity the estimation is judged by.
"""

import atexit
import os
import shutil
import sys
import tempfile

import numpy as np
import pytest

sys.path.insert(0, os.path.dirname(__file__))
import pictures  # noqa: E402

# The engine takes transform plans from the wisdom saved in
# $XDG_CACHE_HOME/velmora, and a measured plan rounds differently from an
# estimated one. Each test process starts from an empty cache of its own,
# so that the comparisons with velmora-deblur (given an empty one too) see
# the same plans, whatever other tests or runs have measured.
_CACHE = tempfile.mkdtemp(prefix="velmora-test-cache-")
os.environ["XDG_CACHE_HOME"] = _CACHE
atexit.register(shutil.rmtree, _CACHE, True)


def _path(variable):
    value = os.environ.get(variable)
    if not value:
        pytest.fail("%s is not set: run the tests through ctest, which sets it" % variable)
    return value


@pytest.fixture(scope="session")
def samples():
    return _path("VELMORA_SAMPLES")


@pytest.fixture(scope="session")
def deblur_tool():
    return _path("VELMORA_DEBLUR")


@pytest.fixture(scope="session")
def shake_tool():
    return _path("VELMORA_SHAKE")


@pytest.fixture(scope="session")
def blurred(samples):
    """samples/coffee_blurred.png: 400 x 600 x 3, uint8, red-green-blue."""
    return pictures.read_png(os.path.join(samples, "coffee_blurred.png"))


@pytest.fixture(scope="session")
def true_kernel(samples):
    """The blur coffee_blurred.png was made with, summing to 1."""
    kernel = pictures.read_png(os.path.join(samples, "coffee_kernel.png")).astype(np.float64)
    return kernel / kernel.sum()


def kernel_similarity(a, b):
    """The largest normalised cross-correlation of two kernels over every
    shift: 1 for the same kernel wherever it sits in its frame."""
    a = np.asarray(a, np.float64)
    b = np.asarray(b, np.float64)
    a = a / np.linalg.norm(a)
    b = b / np.linalg.norm(b)
    rows, cols = a.shape[0] + b.shape[0], a.shape[1] + b.shape[1]
    spectrum = np.fft.rfft2(a, (rows, cols)) * np.conj(np.fft.rfft2(b, (rows, cols)))
    return float(np.fft.irfft2(spectrum, (rows, cols)).max())
