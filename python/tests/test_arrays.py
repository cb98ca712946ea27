"""numpy arrays in and out: every dtype and shape comes back as it went in,
the channel order and memory layout are honoured, and bad arrays and
settings are refused with ValueError before any work."""

import re

import numpy as np
import pytest

import velmora


@pytest.fixture(scope="module")
def crop(blurred):
    # Small enough for many restores, large enough for the 21 x 21 kernel.
    return np.ascontiguousarray(blurred[100:300, 150:450])


@pytest.fixture(scope="module")
def reference(crop, true_kernel):
    """The 8-bit colour restore every other form is compared with."""
    return velmora.deconvolve(crop, true_kernel)


def level_difference(result, reference_8bit, scale):
    return np.abs(result.astype(np.float64) * scale - reference_8bit.astype(np.float64)).max()


def test_uint8_colour_keeps_dtype_and_shape_and_restores(crop, reference, blurred, true_kernel):
    assert reference.dtype == np.uint8 and reference.shape == crop.shape
    # A restore with the true kernel changes the picture, and sharpens it:
    # its gradients grow.
    assert np.abs(reference.astype(int) - crop).mean() > 1.0
    assert np.abs(np.diff(reference.astype(float), axis=1)).mean() > np.abs(np.diff(crop.astype(float), axis=1)).mean()


@pytest.mark.parametrize("dtype,scale", [(np.uint16, 257.0), (np.float32, 1 / 255.0), (np.float64, 1 / 255.0)])
def test_deeper_dtypes_round_trip(crop, reference, true_kernel, dtype, scale):
    picture = (crop.astype(np.float64) * scale).astype(dtype)
    restored = velmora.deconvolve(picture, true_kernel)
    assert restored.dtype == dtype and restored.shape == crop.shape
    if np.issubdtype(dtype, np.floating):
        assert 0.0 <= restored.min() and restored.max() <= 1.0
    # The same pixels as the 8-bit restore, to the 8-bit rounding.
    assert level_difference(restored, reference, 1.0 / scale) <= 1.0


@pytest.mark.parametrize("shape", ["HxW", "HxWx1"])
@pytest.mark.parametrize("dtype", [np.uint8, np.uint16, np.float32, np.float64])
def test_grey_round_trips(crop, true_kernel, shape, dtype):
    grey8 = crop[:, :, 1].copy()
    # The same grey as three equal channels: each channel restores alike.
    colour = velmora.deconvolve(np.repeat(grey8[:, :, None], 3, axis=2), true_kernel)
    scale = {np.uint8: 1.0, np.uint16: 257.0, np.float32: 1 / 255.0, np.float64: 1 / 255.0}[dtype]
    grey = (grey8.astype(np.float64) * scale).astype(dtype)
    if shape == "HxWx1":
        grey = grey[:, :, None]
    restored = velmora.deconvolve(grey, true_kernel)
    assert restored.dtype == dtype and restored.shape == grey.shape
    assert level_difference(restored.reshape(grey8.shape), colour[:, :, 0], 1.0 / scale) <= 1.0


def test_non_contiguous_and_foreign_layouts_give_the_same_result(crop, reference, true_kernel):
    flipped = crop[:, ::-1]  # a negative-stride view
    assert not flipped.flags.c_contiguous
    assert np.array_equal(velmora.deconvolve(flipped, true_kernel), velmora.deconvolve(flipped.copy(), true_kernel))
    fortran = np.asfortranarray(crop)
    assert np.array_equal(velmora.deconvolve(fortran, true_kernel), reference)
    wide = np.zeros((crop.shape[0], crop.shape[1], 5), np.uint8)
    wide[:, :, 1:4] = crop
    assert np.array_equal(velmora.deconvolve(wide[:, :, 1:4], true_kernel), reference)
    swapped = crop.astype(">u2") * 257  # big-endian samples, given back as such
    restored = velmora.deconvolve(swapped, true_kernel)
    assert restored.dtype == np.dtype(">u2")
    assert np.array_equal(restored, velmora.deconvolve(crop.astype(np.uint16) * 257, true_kernel))


def test_input_is_left_as_it_was(crop, true_kernel):
    before = crop.copy()
    velmora.deconvolve(crop, true_kernel)
    assert np.array_equal(crop, before)


def test_channel_order(blurred):
    picture = np.ascontiguousarray(blurred[:240, :300])
    rgb = velmora.deblur(picture, blur_size=9, estimator="classic")
    bgr = velmora.deblur(picture[:, :, ::-1], blur_size=9, estimator="classic", channel_order="bgr")
    assert np.array_equal(rgb.image, bgr.image[:, :, ::-1])
    assert np.array_equal(rgb.kernel, bgr.kernel)
    # The estimation weighs the channels unequally: taking red for blue
    # changes the kernel.
    wrong = velmora.deblur(picture, blur_size=9, estimator="classic", channel_order="BGR")
    assert not np.array_equal(wrong.kernel, rgb.kernel)


def test_result_fields(blurred):
    picture = np.ascontiguousarray(blurred[:240, :300])
    result = velmora.deblur(picture, blur_size=(9, 7), estimator="classic")
    assert result.kernel.dtype == np.float32 and result.kernel.shape == (9, 7)
    assert result.blur_size == (9, 7)
    assert abs(float(result.kernel.sum()) - 1.0) < 1e-4 and result.kernel.min() >= 0.0
    assert result.seconds > 0.0
    assert result.notices == []
    assert "blur_size=(9, 7)" in repr(result)


BAD_PICTURES = [
    (np.zeros((0, 50, 3), np.uint8), "empty"),
    (np.zeros((2, 2), np.uint8), "too small to look for a blur"),
    (np.zeros((100, 100, 4), np.uint8), "remove the alpha channel"),
    (np.zeros((100, 100, 2), np.uint8), "1 channel (grey) or 3"),
    (np.zeros((100,), np.uint8), "H x W"),
    (np.zeros((5, 100, 100, 3), np.uint8), "H x W"),
    (np.zeros((100, 100), np.int32), "unsupported dtype int32"),
    (np.zeros((100, 100), np.bool_), "unsupported dtype bool"),
    (np.zeros((100, 100), np.float16), "unsupported dtype float16"),
    (np.full((100, 100), np.nan, np.float32), "not finite"),
    (np.full((100, 100), 1e300, np.float64), "not finite"),
]


@pytest.mark.parametrize("picture,text", BAD_PICTURES, ids=[t for _, t in BAD_PICTURES])
def test_bad_pictures_are_refused(picture, text):
    with pytest.raises(ValueError, match=re.escape(text)):
        velmora.deblur(picture)


def test_a_nan_among_good_samples_is_refused(crop):
    picture = crop.astype(np.float32) / 255
    picture[10, 10, 2] = np.inf
    with pytest.raises(ValueError, match="not finite"):
        velmora.deblur(picture)


BAD_SETTINGS = [
    (dict(blur_size=20), "bad blur size 20"),
    (dict(blur_size=1), "bad blur size"),
    (dict(blur_size=123), "bad blur size"),
    (dict(blur_size=True), "bad blur size"),
    (dict(blur_size=(9, 10)), "bad blur size"),
    (dict(blur_size="huge"), "bad blur size"),
    (dict(blur_size=101), "too large for this 300 x 200 picture"),
    (dict(estimator="fast"), "bad estimator"),
    (dict(smoothness=0.3), "bad smoothness"),
    (dict(smoothness=-0.01), "bad smoothness"),
    (dict(gamma=1.8), "bad gamma"),
    (dict(processor="tpu"), "bad processor"),
    (dict(channel_order="rbg"), "bad channel_order"),
    (dict(highlights="clip"), "bad highlights"),
    (dict(region=(0.5, 0.5, 0.6, 0.2)), "bad region"),
    (dict(region=(0.1, 0.1, 0.2)), "bad region"),
    (dict(region="top"), "bad region"),
    (dict(region=(0.1, 0.1, 0.2, 0.2)), "Please choose a larger region."),
    (dict(whole=True), "give a region"),
]


@pytest.mark.parametrize("settings,text", BAD_SETTINGS, ids=[t for _, t in BAD_SETTINGS])
def test_bad_settings_are_refused(crop, settings, text):
    with pytest.raises(ValueError, match=re.escape(text)):
        velmora.deblur(crop, **settings)


def test_numpy_integers_are_blur_sizes(blurred):
    picture = np.ascontiguousarray(blurred[:240, :300])
    result = velmora.deblur(picture, blur_size=np.int64(9), estimator="classic")
    assert result.blur_size == (9, 9)


def test_estimation_error_is_its_own_exception():
    # Noise has no edges to estimate a blur from.
    noise = np.random.default_rng(0).integers(0, 256, (240, 300, 3), dtype=np.uint8)
    with pytest.raises(velmora.EstimationError, match="Insufficient information"):
        velmora.deblur(noise, blur_size=9, estimator="classic")
    assert issubclass(velmora.EstimationError, RuntimeError)


def test_help_reads_as_numpydoc():
    for section in ("Parameters", "Returns", "Raises", "Notes", "Examples"):
        assert "\n" + section + "\n" in velmora.deblur.__doc__
    assert "one after another" in velmora.deblur.__doc__
