"""Shared data: the bundled Golub set and small synthetic matrices."""
from pathlib import Path

import numpy as np
import pytest

REPO = Path(__file__).resolve().parents[2]
GOLUB = REPO / "examples" / "data" / "golub.tsv"
GOLUB_CLASSES = REPO / "examples" / "data" / "golub.classes"


@pytest.fixture(scope="session")
def golub():
    """The Golub table as a DataFrame: 3051 genes x 38 samples."""
    pd = pytest.importorskip("pandas")
    return pd.read_csv(GOLUB, sep="\t", index_col=0)


@pytest.fixture(scope="session")
def golub_classes():
    return [int(line) for line in GOLUB_CLASSES.read_text().split()]


@pytest.fixture
def blocks():
    """60 genes x 8 samples: genes 0..19 share one pattern, the rest is noise."""
    rng = np.random.default_rng(7)
    data = rng.normal(scale=0.5, size=(60, 8))
    data[:20] += np.array([3.0] * 4 + [-3.0] * 4)
    return data
