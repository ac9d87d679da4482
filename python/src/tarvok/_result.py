"""The result of an analysis as Python objects, with the caller's names carried through."""
from __future__ import annotations

from dataclasses import dataclass, field
from typing import Any, List, Optional

import numpy as np

from ._exports import ExportMethods
from ._inputs import Matrix


def _labelled(values: np.ndarray, index: Optional[Any], name: str) -> Any:
    """A pandas Series over index when the caller gave names, else the array itself."""
    if index is None:
        return values
    import pandas as pd

    return pd.Series(values, index=index, name=name)


@dataclass(frozen=True, repr=False)
class Cluster:
    """One extracted cluster and the nested sequence of sizes it was chosen from.

    Attributes
    ----------
    genes : pandas.Index or numpy.ndarray
        The cluster's genes in cluster order: names when the input had
        them, otherwise row numbers of X.
    gene_indices : numpy.ndarray of int
        Row numbers of the genes in X (as the caller gave X).
    scores : pandas.Series or numpy.ndarray
        Signed score of each gene at the chosen step, in cluster order.
    eigenvalue : float
        Leading eigenvalue at the chosen step.
    component : pandas.Series or numpy.ndarray
        The chosen step's component, one value per sample of X (NaN for a
        sample that the missing policy left out).
    chosen_step : int
        0-based step of the chosen size in the nested sequence.
    size : int
        Genes in the cluster, ``sizes[chosen_step]``.
    sizes, gap, r2, r2_permuted, between, total, within : numpy.ndarray
        Per step of the nested sequence: genes, gap (``r2 - r2_permuted``),
        percent of variance between samples for the real data and its mean
        over the permuted copies, and the real data's between, total and
        within variances.
    symbols : list of str or None
        Each gene's symbol ("" for none), in cluster order, when
        ``gene_symbols`` was given; else None.

    The component is signed so that more of the cluster's genes score
    positive than negative (ties: the larger sum of scores): a positive
    score follows the cluster's pattern, a negative one mirrors it.
    """

    genes: Any
    gene_indices: np.ndarray
    scores: Any
    eigenvalue: float
    component: Any
    chosen_step: int
    size: int
    sizes: np.ndarray
    gap: np.ndarray
    r2: np.ndarray
    r2_permuted: np.ndarray
    between: np.ndarray
    total: np.ndarray
    within: np.ndarray
    symbols: Optional[List[str]] = None

    def __repr__(self) -> str:
        first = ", ".join(str(g) for g in list(self.genes[:3]))
        more = ", ..." if self.size > 3 else ""
        return f"Cluster(size={self.size}, eigenvalue={self.eigenvalue:.6g}, genes=[{first}{more}])"

    def steps(self) -> Any:
        """The per-step numbers as a pandas DataFrame, one row per step."""
        import pandas as pd

        return pd.DataFrame({name: getattr(self, name)
                             for name in ("sizes", "gap", "r2", "r2_permuted", "between", "total", "within")})


@dataclass(frozen=True, repr=False)
class ShavingResult(ExportMethods):
    """What :func:`tarvok.shave` returns; :class:`tarvok.GeneShaving` keeps the same as attributes.

    Attributes
    ----------
    clusters : list of Cluster
        The clusters in the order they were extracted.
    components : pandas.DataFrame or numpy.ndarray
        One row per cluster (a DataFrame's index numbers them from 1), one
        column per sample of X (its component); NaN for a sample that the
        missing policy left out.
    labels : pandas.Series or numpy.ndarray of int
        For every gene of X, the 0-based position in ``clusters`` of the
        first cluster that holds it, or -1 (scikit-learn's convention: label
        0 is cluster 1 in every name, title and file). Later clusters may
        hold genes of earlier ones; ``clusters`` lists them all.
    n_clusters_found : int
        Clusters extracted (can be fewer than requested).
    stop_reason : str
        "completed", "no_clusters_left" (a cluster took every remaining gene)
        or "variance_exhausted".
    gene_names, sample_names : pandas.Index or None
        The names of the input's genes and samples, when it had names.
    seed : int or None
        The generator state the run started from (``random_state``, or the
        seed drawn from a NumPy generator); None when the run continued the
        thread's own generator.
    kept_samples : numpy.ndarray of int
        The columns of X analysed: all of them unless the missing policy
        left out a sample missing in every gene.
    log2 : dict
        Whether log2 of X was taken and why: ``choice`` ("auto", "yes" or
        "no", as ``log2`` asked), ``applied`` (bool), ``reason`` (one
        clause, e.g. "the 99th percentile is 5800, ...") and
        ``non_positive`` (values <= 0 that became missing).

    ``write_gmt(path)``, ``write_kgg(path)``, ``write_cdt(path)`` and
    ``write_gct(path)`` write one export file each (``write_symbol_gmt(path)``
    the gene sets by symbol, given ``gene_symbols``), ``write_exports(directory)``
    all of them under the ``tarvok`` program's names, through the program's own
    C++ writers. Genes and samples carry the input's names
    (else GENE00001, ..., sample00001, ...), and the classes given are the
    GCT's sample classes.
    """

    clusters: List[Cluster]
    components: Any
    labels: Any
    n_clusters_found: int
    stop_reason: str
    gene_names: Optional[Any] = None
    sample_names: Optional[Any] = None
    seed: Optional[int] = None
    kept_samples: Optional[np.ndarray] = None
    log2: Optional[dict] = None
    _record: Any = field(default=None, compare=False)  # the export record kept by tarvok._core

    def _export_record(self) -> Any:
        if self._record is None:
            raise ValueError("this result keeps no export record")
        return self._record

    def __repr__(self) -> str:
        sizes = [c.size for c in self.clusters]
        return (f"ShavingResult(n_clusters_found={self.n_clusters_found}, stop_reason={self.stop_reason!r}, "
                f"sizes={sizes})")


def _over_samples(values: np.ndarray, matrix: Matrix) -> np.ndarray:
    """Values over the kept samples spread over the caller's samples, NaN for a sample left out."""
    if len(matrix.columns) == matrix.n_samples:
        return np.asarray(values, dtype=np.float64)
    spread = np.full(values.shape[:-1] + (matrix.n_samples,), np.nan)
    spread[..., matrix.columns] = values
    return spread


def build_result(raw: dict, matrix: Matrix, seed: Optional[int] = None,
                 symbols: Optional[List[str]] = None) -> ShavingResult:
    """Turns the core's record into a ShavingResult over the caller's genes and samples."""
    genes, samples = matrix.gene_names, matrix.sample_names
    clusters = []
    labels = np.full(matrix.n_genes, -1, dtype=np.int64)
    for position, record in enumerate(raw["clusters"]):
        rows = matrix.rows[record["genes"]]
        unlabelled = rows[labels[rows] == -1]
        labels[unlabelled] = position
        names = genes[rows] if genes is not None else None
        clusters.append(Cluster(
            genes=names if names is not None else rows,
            gene_indices=rows,
            scores=_labelled(record["scores"], names, "score"),
            eigenvalue=float(record["eigenvalue"]),
            component=_labelled(_over_samples(record["component"], matrix), samples, "component"),
            chosen_step=int(record["chosen_step"]),
            size=int(record["size"]),
            **{name: record[name] for name in ("sizes", "gap", "r2", "r2_permuted", "between", "total", "within")},
            symbols=[symbols[g] for g in record["genes"].tolist()] if symbols else None,
        ))
    kept = np.array([record["component"] for record in raw["clusters"]], dtype=np.float64)
    components = _over_samples(kept.reshape(len(clusters), matrix.values.shape[1]), matrix)
    if samples is not None:
        import pandas as pd

        components = pd.DataFrame(components, columns=samples,
                                  index=pd.RangeIndex(1, len(clusters) + 1, name="cluster"))
    return ShavingResult(clusters=clusters, components=components,
                         labels=_labelled(labels, genes, "tarvok_cluster"),
                         n_clusters_found=len(clusters), stop_reason=str(raw["stop_reason"]),
                         gene_names=genes, sample_names=samples, seed=seed,
                         kept_samples=matrix.columns, log2=matrix.log2, _record=raw.get("record"))
