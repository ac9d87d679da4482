"""A signal during a run stops it with the handler's exception, every worker joined."""
import os
import signal
import threading
from pathlib import Path

import pytest

import tarvok

LONG = dict(n_clusters=5, n_permutations=1000, n_jobs=2)


def thread_count():
    return len(list(Path("/proc/self/task").iterdir()))


def signal_soon(signum, delay=0.5):
    timer = threading.Timer(delay, os.kill, (os.getpid(), signum))
    timer.start()
    return timer


def test_ctrl_c_raises_keyboard_interrupt_and_joins_the_workers(golub):
    tarvok.shave(golub, n_clusters=1, n_permutations=2, n_jobs=2)  # any lasting threads start here
    before = thread_count()
    # Python's own Ctrl-C handler, also where the test runs with SIGINT
    # ignored (started in the background by a non-interactive shell).
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        timer = signal_soon(signal.SIGINT)
        with pytest.raises(KeyboardInterrupt):
            tarvok.shave(golub, **LONG)
        timer.join()
    finally:
        signal.signal(signal.SIGINT, previous)
    assert thread_count() == before
    assert tarvok.shave(golub, n_clusters=1, n_permutations=2).n_clusters_found == 1  # usable again


def test_a_handler_s_own_exception_comes_through(golub):
    class Stop(Exception):
        pass

    def handler(signum, frame):
        raise Stop("stopped by SIGUSR1")

    previous = signal.signal(signal.SIGUSR1, handler)
    try:
        timer = signal_soon(signal.SIGUSR1)
        with pytest.raises(Stop, match="stopped by SIGUSR1"):
            tarvok.GeneShaving(**LONG).fit(golub)
        timer.join()
    finally:
        signal.signal(signal.SIGUSR1, previous)
