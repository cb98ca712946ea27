"""Kernels: a blind job finds a known shake; a known kernel restores a
picture towards the sharp original; kernels are taken as the command-line
tool takes them and bad ones are refused."""

import os
import re
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import pictures
import velmora
from conftest import kernel_similarity


def psnr(a, b):
    error = np.mean((a.astype(np.float64) - b.astype(np.float64)) ** 2)
    return 10.0 * np.log10(255.0 ** 2 / error)


def test_a_generated_shake_is_found(shake_tool, samples, tmp_path):
    # The project's shake generator: a seeded hand-held trajectory, its
    # blur and a little noise, with the true kernel beside it.
    blurred_path, kernel_path = str(tmp_path / "shaken.png"), str(tmp_path / "kernel.png")
    subprocess.run([shake_tool, os.path.join(samples, "coffee.png"), "--size", "17", "--seed", "1", "--noise",
                    "0.003", "-o", blurred_path, "--kernel-out", kernel_path], check=True, capture_output=True)
    truth = pictures.read_png(kernel_path).astype(np.float64)
    result = velmora.deblur(pictures.read_png(blurred_path), blur_size=17, estimator="sharp")
    assert result.blur_size == (17, 17)
    assert kernel_similarity(result.kernel, truth) >= 0.9
    # The similarity tells kernels apart: the true one turned a quarter is
    # not the one found.
    assert kernel_similarity(result.kernel, np.rot90(truth)) < 0.8


def test_the_true_kernel_restores_towards_the_sharp_picture(samples, blurred, true_kernel):
    sharp = pictures.read_png(os.path.join(samples, "coffee.png"))
    restored = velmora.deconvolve(blurred, true_kernel, smoothness=0.01)
    assert psnr(restored, sharp) > psnr(blurred, sharp) + 2.0
    # A kernel that is not the blur does not restore it as well.
    wrong = velmora.deconvolve(blurred, np.rot90(true_kernel), smoothness=0.01)
    assert psnr(wrong, sharp) < psnr(restored, sharp) - 1.0


def test_kernels_are_scaled_to_sum_one_and_negatives_dropped(blurred, true_kernel):
    picture = np.ascontiguousarray(blurred[:200, :300])
    reference = velmora.deconvolve(picture, true_kernel.astype(np.float32))
    # Scaled: the same taps to the last bit or two, so the same pixels to a level.
    assert np.abs(velmora.deconvolve(picture, true_kernel * 7.0).astype(int) - reference).max() <= 1
    noisy = true_kernel.copy()
    noisy[true_kernel == 0] = -0.01
    assert np.array_equal(velmora.deconvolve(picture, noisy), reference)
    # Integer kernels are numbers too: a 16-bit kernel picture as read.
    as_read = np.round(true_kernel / true_kernel.max() * 65535).astype(np.uint16)
    assert np.abs(velmora.deconvolve(picture, as_read).astype(int) - reference).max() <= 1


BAD_KERNELS = [
    (np.ones((4, 5)), "odd sides"),
    (np.ones((5,)), "2-D"),
    (np.ones((3, 3, 3)), "2-D"),
    (np.zeros((0, 3)), "2-D"),
    (np.zeros((5, 5)), "no positive entry"),
    (-np.ones((5, 5)), "no positive entry"),
    (np.full((5, 5), np.nan), "not finite"),
    (np.ones((5, 5), np.complex64), "dtype complex64"),
    (np.ones((201, 3)), "larger than the picture"),
]


@pytest.mark.parametrize("kernel,text", BAD_KERNELS, ids=[t for _, t in BAD_KERNELS])
def test_bad_kernels_are_refused(blurred, kernel, text):
    with pytest.raises(ValueError, match=re.escape(text)):
        velmora.deconvolve(np.ascontiguousarray(blurred[:200, :300]), kernel)


def test_a_job_too_large_for_the_memory_left_raises_memory_error():
    # In a process of its own, under an address-space limit: the engine
    # refuses the job before it starts, with the figures.
    program = textwrap.dedent("""
        import resource
        import numpy as np
        resource.setrlimit(resource.RLIMIT_AS, (1200 << 20, 1200 << 20))
        import velmora
        picture = np.zeros((4000, 4000, 3), np.uint8)
        try:
            velmora.deblur(picture, blur_size=31)
        except MemoryError as error:
            print("MemoryError:", error)
    """)
    done = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, timeout=120)
    assert re.search(r"MemoryError: not enough memory: this picture needs about [\d.]+ GiB of memory; "
                     r"[\d.]+ GiB are free", done.stdout), done.stdout + done.stderr
