"""Stopping a job: Ctrl-C (SIGINT) during a 4-megapixel job raises
KeyboardInterrupt within a second, a progress callable that raises stops
the job with its exception, and the engine is free for the next job."""

import os
import signal
import threading
import time

import numpy as np
import pytest

import velmora


@pytest.fixture(scope="module")
def four_megapixels(blurred):
    """2000 x 2000 colour, tiled from the sample with mirrored copies."""
    tile = np.concatenate([blurred, blurred[:, ::-1]], axis=1)
    tile = np.concatenate([tile, tile[::-1]], axis=0)
    return np.ascontiguousarray(np.tile(tile, (3, 2, 1))[:2000, :2000])


def test_ctrl_c_stops_a_four_megapixel_job_within_a_second(four_megapixels):
    percents, sent, timers = [], [], []

    def interrupt():
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    def progress(percent):
        # Half a second after the engine's first report: well inside the job.
        percents.append(percent)
        if not timers:
            timers.append(threading.Timer(0.5, interrupt))
            timers[0].start()

    try:
        with pytest.raises(KeyboardInterrupt):
            velmora.deblur(four_megapixels, estimator="sharp", progress=progress)
        stopped = time.monotonic()
    finally:
        for timer in timers:
            timer.cancel()
    assert sent, "the job ended before the signal"
    assert stopped - sent[0] < 1.0
    assert percents[-1] < 100.0


def test_the_engine_is_free_after_an_interrupt(blurred, true_kernel):
    picture = np.ascontiguousarray(blurred[:200, :300])
    assert velmora.deconvolve(picture, true_kernel).shape == picture.shape


def test_a_progress_callable_that_raises_stops_the_job(four_megapixels):
    class Enough(Exception):
        pass

    calls = []

    def progress(percent):
        calls.append(time.monotonic())
        if len(calls) == 3:
            raise Enough()

    started = time.monotonic()
    with pytest.raises(Enough):
        velmora.deblur(four_megapixels, estimator="classic", progress=progress)
    assert len(calls) == 3
    assert time.monotonic() - calls[-1] < 1.0, "the job ran on after its progress callable raised"
    assert time.monotonic() - started < 30.0


def test_a_thread_waiting_for_the_engine_takes_its_turn_after_a_stop(blurred, true_kernel):
    picture = np.ascontiguousarray(blurred[:200, :300])
    results = []
    worker = threading.Thread(target=lambda: results.append(velmora.deconvolve(picture, true_kernel)))
    worker.start()
    worker.join(timeout=60)
    assert not worker.is_alive() and len(results) == 1
