"""Gene shaving for Python: clusters of co-expressed genes from NumPy, pandas and AnnData.

Orientation: NumPy arrays and pandas DataFrames are **genes x samples** (the
rows are what is clustered, as in scikit-learn); AnnData objects are
samples x genes, as AnnData stores them.

>>> import tarvok
>>> model = tarvok.GeneShaving(n_clusters=3).fit(data)  # doctest: +SKIP
>>> result = tarvok.shave(data, n_clusters=3)            # the same, as a function  # doctest: +SKIP
"""
from ._core import VERSION as __version__  # the repository's VERSION file, compiled in

from . import plotting
from ._api import GeneShaving, shave
from ._result import Cluster, ShavingResult

__all__ = ["GeneShaving", "shave", "Cluster", "ShavingResult", "plotting", "__version__"]
