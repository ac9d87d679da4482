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


def signal_while_shaving(monkeypatch, signum):
    """Sends signum from another thread once the run has shaved its first permuted copy, so
    that it arrives while the core runs (the run needs progress=True)."""
    shaving = threading.Event()

    class Reporter:
        def __init__(self, *args):
            pass

        def __call__(self, event, a, b):
            if event == "copy":
                shaving.set()

        def close(self):
            pass

    monkeypatch.setattr(tarvok._api, "Progress", Reporter)

    def send():
        shaving.wait()
        os.kill(os.getpid(), signum)

    sender = threading.Thread(target=send, daemon=True)
    sender.start()
    return sender


def test_ctrl_c_raises_keyboard_interrupt_and_joins_the_workers(golub, monkeypatch):
    tarvok.shave(golub, n_clusters=1, n_permutations=2, n_jobs=2)  # any lasting threads start here
    before = thread_count()
    # Python's own Ctrl-C handler, also where the test runs with SIGINT
    # ignored (started in the background by a non-interactive shell).
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        sender = signal_while_shaving(monkeypatch, signal.SIGINT)
        with pytest.raises(KeyboardInterrupt):
            tarvok.shave(golub, progress=True, **LONG)
        sender.join()
    finally:
        signal.signal(signal.SIGINT, previous)
    assert thread_count() == before
    assert tarvok.shave(golub, n_clusters=1, n_permutations=2).n_clusters_found == 1  # usable again


def test_a_handler_s_own_exception_comes_through(golub, monkeypatch):
    class Stop(Exception):
        pass

    def handler(signum, frame):
        raise Stop("stopped by SIGUSR1")

    previous = signal.signal(signal.SIGUSR1, handler)
    try:
        sender = signal_while_shaving(monkeypatch, signal.SIGUSR1)
        with pytest.raises(Stop, match="stopped by SIGUSR1"):
            tarvok.GeneShaving(progress=True, **LONG).fit(golub)
        sender.join()
    finally:
        signal.signal(signal.SIGUSR1, previous)
