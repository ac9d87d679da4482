"""Checks the estimator's parameters and turns them into the core's options.

The ranges are the core's (``tarvok._core.range_of``), the same for every
face, and so are the messages. The core counts in whole percents; the Python
face speaks in fractions (``shave=0.10`` is 10 percent), so every fraction
must be a whole percent.
"""
from __future__ import annotations

import numbers
import os
from dataclasses import dataclass
from typing import Any, Optional

import numpy as np

from . import _core

Parameter = _core.Parameter
# How each shaving step finds its leading axis: "exact" decomposes the
# samples x samples matrix, "fast" runs restarted Lanczos (many samples).
SOLVERS = ("exact", "fast")
_INT64 = 2**63 - 1


@dataclass(frozen=True)
class CoreOptions:
    """The core's options, in its own units."""

    clusters: int
    shave_percent: int
    permutations: int
    tolerance_percent: int
    supervision_percent: int
    threads: int
    generator_state: int  # -1: the calling thread's own generator
    solver: str


def _whole_number(name: str, value: object, parameter: Any) -> int:
    """value as an int within the core's range of parameter, else the core's message."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be a whole number {_core.allowed_text(parameter)}; got {value!r}")
    number = int(value)
    clamped = max(-_INT64, min(_INT64, number))  # the core's check takes 64 bits; the text shows the value
    _core.check_parameter(parameter, clamped, name, value_text="" if clamped == number else str(number))
    return number


def _whole_percent(name: str, value: object, parameter: Any) -> int:
    """A fraction such as 0.10 as the whole percent 10, within the core's range."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be {_core.allowed_text(parameter, True)}; got {value!r}")
    return _core.percent_of_fraction(parameter, float(value), name)


def available_cores() -> int:
    """Cores this process may run on."""
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except AttributeError:  # not Linux
        return max(1, os.cpu_count() or 1)


def threads_for(n_jobs: Optional[int]) -> int:
    """Worker threads for n_jobs: None or -1 all cores, -2 all but one, ..."""
    most = _core.range_of(Parameter.threads)[1]
    if n_jobs is None:
        return min(available_cores(), most)
    if isinstance(n_jobs, bool) or not isinstance(n_jobs, numbers.Integral) or n_jobs == 0:
        raise ValueError(f"n_jobs must be None, a whole number {_core.allowed_text(Parameter.threads)} or a "
                         f"negative one (-1 = all cores, -2 all but one); got {n_jobs!r}")
    if n_jobs < 0:
        return min(max(1, available_cores() + 1 + int(n_jobs)), most)
    return _whole_number("n_jobs", n_jobs, Parameter.threads)


def generator_state(random_state: Any) -> int:
    """The generator state a run starts from: a seed N is state N; None continues the
    calling thread's generator (-1 to the core); a NumPy Generator or RandomState gives a
    seed drawn from it, so that it advances as scikit-learn's estimators advance it."""
    if random_state is None:
        return -1
    high = _core.range_of(Parameter.seed)[1]
    if isinstance(random_state, np.random.Generator):
        return int(random_state.integers(0, high, endpoint=True))
    if isinstance(random_state, np.random.RandomState):
        return int(random_state.randint(0, high + 1, dtype=np.int64))
    if isinstance(random_state, bool) or not isinstance(random_state, numbers.Integral):
        raise TypeError(f"random_state must be None, a whole number {_core.allowed_text(Parameter.seed)}, a "
                        f"numpy.random.Generator or a numpy.random.RandomState; got {random_state!r}")
    return _whole_number("random_state", random_state, Parameter.seed)


def core_options(n_clusters: int, shave: float, n_permutations: int, tolerance: float, supervision: float,
                 n_jobs: Optional[int], random_state: Any = _core.DEFAULT_SEED, solver: str = "exact") -> CoreOptions:
    """Checks the public parameters; raises TypeError/ValueError saying what to change."""
    return CoreOptions(
        clusters=_whole_number("n_clusters", n_clusters, Parameter.clusters),
        shave_percent=_whole_percent("shave", shave, Parameter.shave),
        permutations=_whole_number("n_permutations", n_permutations, Parameter.permutations),
        tolerance_percent=_whole_percent("tolerance", tolerance, Parameter.tolerance),
        supervision_percent=_whole_percent("supervision", supervision, Parameter.supervise),
        threads=threads_for(n_jobs),
        generator_state=generator_state(random_state),
        solver=_choice("solver", solver, SOLVERS),
    )


def _choice(name: str, value: object, allowed: tuple) -> str:
    """value when it is one of the allowed words, else a ValueError naming them."""
    if not isinstance(value, str) or value not in allowed:
        raise ValueError(f"{name} must be one of {', '.join(repr(word) for word in allowed)}; got {value!r}")
    return value


def check_missing(missing: str) -> str:
    """One of the core's missing-value policies."""
    return _choice("missing", missing, tuple(_core.MISSING_POLICIES))


def check_log2(log2: Any) -> str:
    """The core's word for log2: "auto", True ("yes") or False ("no")."""
    if isinstance(log2, str) and log2 == "auto":
        return "auto"
    if isinstance(log2, (bool, np.bool_)):
        return "yes" if log2 else "no"
    raise ValueError(f"log2 must be 'auto', True or False; got {log2!r}")
