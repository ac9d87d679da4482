"""A progress display driven by the core's events: tqdm when installed, plain text otherwise."""
from __future__ import annotations

import sys
from typing import Any, Optional, TextIO


class Progress:
    """Counts shaved permuted copies over every requested cluster.

    Called by the core (with the GIL) as ``progress(event, a, b)``: ("pass", i, 0)
    when cluster i starts, ("copy", b, B) when copy b of B is done and
    ("cluster", i, 0) when cluster i is done.
    """

    def __init__(self, clusters: int, permutations: int, stream: Optional[TextIO] = None) -> None:
        self.clusters = clusters
        self.total = clusters * permutations
        self.done = 0
        self.stream = stream if stream is not None else sys.stderr
        self.bar: Any = None
        try:
            from tqdm.auto import tqdm
        except ImportError:
            tqdm = None
        if tqdm is not None:
            self.bar = tqdm(total=self.total, unit="copy", desc="gene shaving", file=self.stream)

    def __call__(self, event: str, a: int, b: int) -> None:
        if event == "pass":
            self._describe(f"cluster {a}/{self.clusters}")
        elif event == "copy":
            self.done += 1
            if self.bar is not None:
                self.bar.update(1)
            else:
                self.stream.write(f"\rgene shaving: {self.done}/{self.total} permuted copies")
                self.stream.flush()

    def _describe(self, text: str) -> None:
        if self.bar is not None:
            self.bar.set_description(text)

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()
        elif self.done:
            self.stream.write("\n")
            self.stream.flush()
