"""The module and velmora-deblur make the same request of the engine: the
same settings give the same pixels, byte for byte, the same kernel and the
same blur size found (with the same transform plans: both start from an
empty plan cache here)."""

import os
import re
import subprocess

import numpy as np
import pytest

import pictures
import velmora


def run_tool(tool, sample, folder, *options):
    result_path = os.path.join(folder, "restored.bmp")
    kernel_path = os.path.join(folder, "kernel.png")
    # An empty plan cache, as the test process has (see conftest.py).
    environment = dict(os.environ, XDG_CACHE_HOME=os.path.join(folder, "cache"))
    done = subprocess.run([tool, sample, "-o", result_path, "--kernel-out", kernel_path, *options],
                          capture_output=True, text=True, timeout=240, env=environment)
    assert done.returncode == 0, done.stderr
    found = re.search(r"Blur size found: (\d+) x (\d+)", done.stdout)
    size = (int(found.group(1)), int(found.group(2))) if found else None
    return pictures.read_bmp(result_path), pictures.read_png(kernel_path), size


def kernel_picture(kernel):
    """The kernel as the tool writes it: 8-bit, scaled to its largest entry."""
    return np.round(kernel / kernel.max() * 255.0)


def test_the_tools_defaults(deblur_tool, samples, blurred, tmp_path):
    # The tool's defaults: the size found, the classic estimator, lamps modelled.
    sample = os.path.join(samples, "coffee_blurred.png")
    tool_image, tool_kernel, tool_size = run_tool(deblur_tool, sample, str(tmp_path))
    result = velmora.deblur(blurred, blur_size="auto", estimator="classic", highlights="model")
    assert result.image.shape == tool_image.shape
    assert np.array_equal(result.image, tool_image)
    assert result.blur_size == tool_size
    assert np.abs(kernel_picture(result.kernel) - tool_kernel).max() <= 1


def test_region_then_whole_with_the_sharp_estimator(deblur_tool, samples, blurred, tmp_path):
    sample = os.path.join(samples, "coffee_blurred.png")
    tool_image, tool_kernel, _ = run_tool(
        deblur_tool, sample, str(tmp_path), "--estimator", "sharp", "--blur-size", "21x19", "--smoothness", "0.02",
        "--reduce-ringing", "--highlights", "keep", "--region", "0.1,0.2,0.7,0.6", "--whole")
    result = velmora.deblur(blurred, blur_size=(21, 19), estimator="sharp", smoothness=0.02, reduce_ringing=True,
                            highlights="keep", region=(0.1, 0.2, 0.7, 0.6), whole=True)
    assert result.blur_size == (21, 19)
    assert np.array_equal(result.image, tool_image)
    assert np.abs(kernel_picture(result.kernel) - tool_kernel).max() <= 1


def test_a_region_alone_restores_only_the_region(blurred):
    result = velmora.deblur(blurred, blur_size=15, estimator="classic", region=(0.5, 0.0, 0.5, 0.6))
    rows, cols = blurred.shape[:2]
    # Outside the region the picture is as it was; inside it is restored.
    assert np.array_equal(result.image[:, : cols // 2 - 1], blurred[:, : cols // 2 - 1])
    assert np.array_equal(result.image[int(rows * 0.6) + 2:], blurred[int(rows * 0.6) + 2:])
    assert not np.array_equal(result.image[:200, 320:], blurred[:200, 320:])


@pytest.mark.parametrize("options,kwargs", [(["--reduce-noise", "--smoothness", "0.1"],
                                             dict(reduce_noise=True, smoothness=0.1))])
def test_a_known_kernel(deblur_tool, samples, blurred, true_kernel, tmp_path, options, kwargs):
    sample = os.path.join(samples, "coffee_blurred.png")
    tool_image, _, _ = run_tool(deblur_tool, sample, str(tmp_path), "--kernel",
                                os.path.join(samples, "coffee_kernel.png"), *options)
    # The tool reads the 16-bit kernel picture and scales it to sum 1, as
    # deconvolve does with the array.
    kernel = pictures.read_png(os.path.join(samples, "coffee_kernel.png")).astype(np.float32)
    restored = velmora.deconvolve(blurred, kernel, **kwargs)
    assert np.array_equal(restored, tool_image)
