"""Threads: the interpreter is free while a job runs, jobs from two threads
at once take turns and each gets its own correct result, and progress is
reported rising, from the calling thread, ending at 100."""

import threading
import time

import numpy as np
import pytest

import velmora


@pytest.fixture(scope="module")
def pictures_pair(blurred):
    return [np.ascontiguousarray(blurred[:300, :300]), np.ascontiguousarray(blurred[100:, 250:])]


SETTINGS = dict(blur_size=15, estimator="classic")


def test_progress_rises_to_100_on_the_calling_thread(blurred):
    percents, threads = [], []

    def progress(percent):
        percents.append(percent)
        threads.append(threading.get_ident())

    velmora.deblur(blurred, blur_size=21, estimator="sharp", progress=progress)
    assert len(percents) >= 3
    assert all(later > earlier for earlier, later in zip(percents, percents[1:]))
    assert 0.0 <= percents[0] and percents[-1] == 100.0
    assert set(threads) == {threading.get_ident()}


def test_the_interpreter_runs_other_threads_during_a_job(blurred):
    done = threading.Event()
    seconds = []

    def job():
        started = time.monotonic()
        velmora.deblur(blurred, blur_size=21, estimator="sharp")
        seconds.append(time.monotonic() - started)
        done.set()

    worker = threading.Thread(target=job)
    worker.start()
    ticks = 0
    while not done.is_set():
        ticks += 1
        time.sleep(0.005)
    worker.join()
    # A job that kept the interpreter would let this loop run once or twice.
    assert seconds[0] > 0.3
    assert ticks >= 0.3 * seconds[0] / 0.005


def test_two_threads_at_once_get_their_own_results_one_after_the_other(pictures_pair):
    references = [velmora.deblur(p, **SETTINGS) for p in pictures_pair]
    results, spans = [None, None], [None, None]
    start = threading.Barrier(2)

    def job(index):
        seen = []
        start.wait()
        results[index] = velmora.deblur(pictures_pair[index], progress=lambda p: seen.append(time.monotonic()),
                                        **SETTINGS)
        spans[index] = (seen[0], seen[-1])

    workers = [threading.Thread(target=job, args=(i,)) for i in range(2)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join(timeout=120)
    for result, reference in zip(results, references):
        assert np.array_equal(result.image, reference.image)
        assert np.array_equal(result.kernel, reference.kernel)
    # One job's reports all come before the other's: they took turns.
    first, second = sorted(spans)
    assert first[1] <= second[0]
