"""Checks the estimator's parameters and turns them into the core's options.

The core counts in whole percents; the Python face speaks in fractions
(``shave=0.10`` is 10 percent), so every fraction must be a whole percent.
"""
from __future__ import annotations

import math
import numbers
import os
from dataclasses import dataclass
from typing import Optional

MISSING_POLICIES = ("error", "drop", "row-mean")
# How each shaving step finds its leading axis: "exact" decomposes the
# samples x samples matrix, "fast" runs restarted Lanczos (many samples).
SOLVERS = ("exact", "fast")
MAX_THREADS = 1024


@dataclass(frozen=True)
class CoreOptions:
    """The core's options, in its own units."""

    clusters: int
    shave_percent: int
    permutations: int
    tolerance_percent: int
    supervision_percent: int
    threads: int
    generator_state: int
    solver: str


def _whole_number(name: str, value: object, minimum: int, maximum: Optional[int] = None) -> int:
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be a whole number; got {value!r}")
    number = int(value)
    if number < minimum or (maximum is not None and number > maximum):
        allowed = f">= {minimum}" if maximum is None else f"from {minimum} to {maximum}"
        raise ValueError(f"{name} must be {allowed}; got {number}")
    return number


def _whole_percent(name: str, value: object, low: int, high: int) -> int:
    """A fraction such as 0.10 as the whole percent 10, within low..high percent."""
    allowed = f"a fraction from {low / 100:g} to {high / 100:g} in whole percents (0.01 steps)"
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be {allowed}; got {value!r}")
    scaled = float(value) * 100.0
    percent = round(scaled) if math.isfinite(scaled) else None
    if percent is None or abs(scaled - percent) > 1e-9 * max(1.0, abs(scaled)) or not low <= percent <= high:
        raise ValueError(f"{name} must be {allowed}; got {value!r}")
    return int(percent)


def available_cores() -> int:
    """Cores this process may run on."""
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except AttributeError:  # not Linux
        return max(1, os.cpu_count() or 1)


def threads_for(n_jobs: Optional[int]) -> int:
    """Worker threads for n_jobs: None or -1 all cores, -2 all but one, ..."""
    if n_jobs is None:
        return min(available_cores(), MAX_THREADS)
    if isinstance(n_jobs, bool) or not isinstance(n_jobs, numbers.Integral) or n_jobs == 0:
        raise ValueError(f"n_jobs must be None, a positive whole number or a negative one (-1 = all cores); got {n_jobs!r}")
    if n_jobs < 0:
        return min(max(1, available_cores() + 1 + int(n_jobs)), MAX_THREADS)
    return _whole_number("n_jobs", n_jobs, 1, MAX_THREADS)


def core_options(n_clusters: int, shave: float, n_permutations: int, tolerance: float, supervision: float,
                 n_jobs: Optional[int], random_state: Optional[int] = 1, solver: str = "exact") -> CoreOptions:
    """Checks the public parameters; raises TypeError/ValueError saying what to change."""
    return CoreOptions(
        clusters=_whole_number("n_clusters", n_clusters, 0),
        shave_percent=_whole_percent("shave", shave, 1, 97),
        permutations=_whole_number("n_permutations", n_permutations, 1),
        tolerance_percent=_whole_percent("tolerance", tolerance, 0, 100),
        supervision_percent=_whole_percent("supervision", supervision, 0, 100),
        threads=threads_for(n_jobs),
        # None: the calling thread's own generator, which each run advances (-1 to the core).
        generator_state=-1 if random_state is None else _whole_number("random_state", random_state, 0, 2**32 - 1),
        solver=_choice("solver", solver, SOLVERS),
    )


def _choice(name: str, value: object, allowed: tuple) -> str:
    """value when it is one of the allowed words, else a ValueError naming them."""
    if not isinstance(value, str) or value not in allowed:
        raise ValueError(f"{name} must be one of {', '.join(repr(word) for word in allowed)}; got {value!r}")
    return value


def check_missing(missing: str) -> str:
    return _choice("missing", missing, MISSING_POLICIES)
