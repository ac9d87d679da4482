"""The public face: the function :func:`shave` and the scikit-learn style estimator :class:`GeneShaving`."""
from __future__ import annotations

import inspect
from typing import Any, Dict, List, Optional

import numpy as np

from . import _core
from ._exports import ExportMethods
from ._inputs import as_matrix, class_labels, encode_classes, export_labels, is_anndata
from ._params import check_missing, core_options
from ._progress import Progress
from ._result import Cluster, ShavingResult, build_result


def shave(X: Any, y: Any = None, *, n_clusters: int = 5, shave: float = 0.10, n_permutations: int = 20,
          tolerance: float = 0.0, supervision: float = 0.0, n_jobs: Optional[int] = None,
          random_state: Optional[int] = 1, missing: str = "error", progress: bool = False,
          solver: str = "exact") -> ShavingResult:
    """Find clusters of genes with gene shaving.

    Parameters
    ----------
    X : numpy.ndarray, pandas.DataFrame or AnnData
        The expression data. **A NumPy array or a DataFrame is genes x
        samples** (one row per gene, one column per sample; a DataFrame's
        index names the genes and its columns the samples). **An AnnData is
        samples x genes** (obs x var), as AnnData stores it. A C-contiguous
        float64 array is used as it is; anything else is converted once.
    y : array-like of hashable, or str, optional
        One class per sample, of any values; with AnnData also the name of
        a column of ``adata.obs``. Needed when ``supervision > 0``.
    n_clusters : int, default 5
        Clusters to extract (0 or more); fewer come back when the data run out.
    shave : float, default 0.10
        Fraction of a cluster's genes shaved off per step: a whole percent
        from 0.01 to 0.97.
    n_permutations : int, default 20
        Row-permuted copies of the data per cluster for the gap statistic (>= 1).
    tolerance : float, default 0.0
        Tolerance of the size choice, a whole percent from 0 to 1: the
        smallest size whose gap is within this fraction of the largest gap.
    supervision : float, default 0.0
        0 unsupervised, 1 fully supervised by ``y``, a whole percent between
        for a mixture.
    n_jobs : int, optional
        Worker threads for the permuted copies; None or -1 uses every core,
        -2 all but one. The results are the same bits for any value.
    random_state : int or None, default 1
        Starting state of the generator that permutes the copies, 0 to
        2**32 - 1. The default is a fresh ``tarvok`` process's state, so the
        numbers equal those of the command-line program and the library.
        None continues the calling thread's own generator, so that each run
        draws new permutations.
    missing : {"error", "drop", "row-mean"}, default "error"
        What to do with NaN or infinite values: raise an error naming the
        first one, leave out every gene that has one, or replace them by the
        gene's mean of its other values (a gene without any value is left out).
    progress : bool, default False
        Show a progress bar (tqdm when installed, plain text otherwise).
    solver : {"exact", "fast"}, default "exact"
        How each shaving step finds its cluster's leading axis. "exact"
        decomposes the samples x samples matrix, O(samples^3) per step;
        "fast" runs restarted Lanczos warm-started from the previous step,
        for tables with many samples. Both give the same genes, sizes and
        eigenvalues (to about 1e-12); "fast" may flip the sign of a
        cluster's scores and component. The results are the same bits for
        any ``n_jobs`` with either solver.

    Returns
    -------
    ShavingResult
        The clusters, their components, a cluster label per gene, how many
        clusters were found and why the run stopped; its ``write_gmt``,
        ``write_kgg``, ``write_cdt``, ``write_gct`` and ``write_exports``
        write the export files of the ``tarvok`` program.

    Raises
    ------
    TypeError, ValueError
        Bad input or parameters; the message says what to change.
    RuntimeError
        The analysis failed.
    KeyboardInterrupt
        Ctrl-C during the run (the workers are joined first).
    """
    options = core_options(n_clusters, shave, n_permutations, tolerance, supervision, n_jobs, random_state, solver)
    matrix = as_matrix(X, check_missing(missing))
    classes: List[int] = []
    class_names: List[str] = []  # for the exports' sample classes
    if y is not None:
        classes = encode_classes(y, matrix.values.shape[1], X)
        class_names = [str(label) for label in class_labels(y, matrix.values.shape[1], X)]
    if options.supervision_percent > 0:
        if y is None:
            raise ValueError("supervision > 0 needs y, one class per sample")
        if len(set(classes)) < 2:
            raise ValueError("y has a single class; supervision needs at least two classes")
    display = Progress(options.clusters, options.permutations) if progress else None
    try:
        raw = _core.analyze(matrix.values, options.clusters, options.shave_percent, options.permutations,
                            options.tolerance_percent, options.supervision_percent,
                            classes if options.supervision_percent > 0 else [], options.threads,
                            options.generator_state, display, *export_labels(matrix), class_names,
                            solver=options.solver)
    finally:
        if display is not None:
            display.close()
    return build_result(raw, matrix)


class GeneShaving(ExportMethods):
    """Gene shaving: clusters of genes with similar expression, sized by the gap statistic.

    Follows scikit-learn's estimator conventions (``get_params``,
    ``set_params``, ``sklearn.base.clone``; ``fit`` returns self; fitted
    attributes end in ``_``). The parameters are those of :func:`shave`.

    Parameters
    ----------
    n_clusters : int, default 5
    shave : float, default 0.10
    n_permutations : int, default 20
    tolerance : float, default 0.0
    supervision : float, default 0.0
    n_jobs : int, optional
    random_state : int or None, default 1
    missing : {"error", "drop", "row-mean"}, default "error"
    progress : bool, default False
    solver : {"exact", "fast"}, default "exact"
        "fast" (restarted Lanczos) for tables with many samples.

    Attributes
    ----------
    clusters_ : list of Cluster
        One record per cluster: genes, signed scores, eigenvalue, component,
        chosen step, per-step sizes, gap, R² real and permuted, between,
        total and within variances.
    components_ : numpy.ndarray or pandas.DataFrame, shape (n_clusters_found_, n_samples)
    labels_ : numpy.ndarray or pandas.Series, shape (n_genes,)
        Cluster of each gene (its first one), -1 for none.
    n_clusters_found_ : int
    stop_reason_ : str
    result_ : ShavingResult
        All of the above in one object.

    Once fitted, ``write_gmt(path)``, ``write_kgg(path)``, ``write_cdt(path)``,
    ``write_gct(path)`` and ``write_exports(directory)`` write the export
    files of the ``tarvok`` program (see :class:`ShavingResult`).

    Examples
    --------
    >>> import pandas as pd, tarvok
    >>> data = pd.read_csv("examples/data/golub.tsv", sep="\\t", index_col=0)  # genes x samples
    >>> model = tarvok.GeneShaving(n_clusters=3).fit(data)
    >>> model.clusters_[0].genes[:5]
    """

    def __init__(self, n_clusters: int = 5, shave: float = 0.10, n_permutations: int = 20, tolerance: float = 0.0,
                 supervision: float = 0.0, n_jobs: Optional[int] = None, random_state: Optional[int] = 1,
                 missing: str = "error", progress: bool = False, solver: str = "exact") -> None:
        self.n_clusters = n_clusters
        self.shave = shave
        self.n_permutations = n_permutations
        self.tolerance = tolerance
        self.supervision = supervision
        self.n_jobs = n_jobs
        self.random_state = random_state
        self.missing = missing
        self.progress = progress
        self.solver = solver

    @classmethod
    def _param_names(cls) -> List[str]:
        return [name for name in inspect.signature(cls.__init__).parameters if name != "self"]

    def get_params(self, deep: bool = True) -> Dict[str, Any]:
        """The estimator's parameters by name.

        Parameters
        ----------
        deep : bool, default True
            Ignored (no parameter is an estimator); kept for scikit-learn.

        Returns
        -------
        dict
        """
        return {name: getattr(self, name) for name in self._param_names()}

    def set_params(self, **params: Any) -> "GeneShaving":
        """Sets parameters by name; checked when ``fit`` runs.

        Returns
        -------
        GeneShaving
            self
        """
        valid = self._param_names()
        for name, value in params.items():
            if name not in valid:
                raise ValueError(f"GeneShaving has no parameter {name!r}; valid: {', '.join(valid)}")
            setattr(self, name, value)
        return self

    def __repr__(self) -> str:
        defaults = {name: p.default for name, p in inspect.signature(type(self).__init__).parameters.items()}
        changed = [f"{name}={value!r}" for name, value in self.get_params().items() if value != defaults[name]]
        return f"{type(self).__name__}({', '.join(changed)})"

    def __sklearn_is_fitted__(self) -> bool:
        return hasattr(self, "result_")

    def _export_record(self) -> Any:
        if not hasattr(self, "result_"):
            raise ValueError("this GeneShaving is not fitted yet; call fit before writing exports")
        return self.result_._export_record()

    def fit(self, X: Any, y: Any = None, *, annotate: bool = False) -> "GeneShaving":
        """Run gene shaving on X.

        Parameters
        ----------
        X : numpy.ndarray, pandas.DataFrame or AnnData
            **Genes x samples** for arrays and DataFrames, samples x genes
            for AnnData (see :func:`shave`).
        y : array-like of hashable, or str, optional
            One class per sample (with AnnData also a column of ``adata.obs``);
            needed when ``supervision > 0``.
        annotate : bool, default False
            With AnnData, also write ``adata.var['tarvok_cluster']`` (the
            labels) and ``adata.uns['tarvok']`` (parameters and clusters).

        Returns
        -------
        GeneShaving
            self, fitted.
        """
        result = shave(X, y, **self.get_params())
        self.result_ = result
        self.clusters_: List[Cluster] = result.clusters
        self.components_ = result.components
        self.labels_ = result.labels
        self.n_clusters_found_ = result.n_clusters_found
        self.stop_reason_ = result.stop_reason
        if annotate:
            if not is_anndata(X):
                raise TypeError("annotate=True needs an AnnData object as X")
            write_anndata(X, result, self.get_params())
        return self


def write_anndata(adata: Any, result: ShavingResult, params: Dict[str, Any]) -> None:
    """Stores the labels in ``adata.var['tarvok_cluster']`` and a summary in ``adata.uns['tarvok']``."""
    adata.var["tarvok_cluster"] = np.asarray(result.labels)
    adata.uns["tarvok"] = {
        "params": {name: ("None" if value is None else value) for name, value in params.items()},
        "n_clusters_found": result.n_clusters_found,
        "stop_reason": result.stop_reason,
        "components": np.asarray(result.components),
        "clusters": [{"genes": np.asarray(c.genes).astype(str), "scores": np.asarray(c.scores),
                      "eigenvalue": c.eigenvalue, "size": c.size, "chosen_step": c.chosen_step,
                      "sizes": c.sizes, "gap": c.gap, "r2": c.r2, "r2_permuted": c.r2_permuted}
                     for c in result.clusters],
    }
