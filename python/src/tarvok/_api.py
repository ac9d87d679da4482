"""The public face: the function :func:`shave` and the scikit-learn style estimator :class:`GeneShaving`."""
from __future__ import annotations

import inspect
from typing import Any, Dict, List, Optional

import numpy as np

from . import _core
from ._exports import ExportMethods
from ._inputs import (ORIENTATION, as_matrix, class_labels, encode_classes, export_labels, is_anndata,
                      raw_values)
from ._inputs import gene_symbols as symbols_of
from ._params import check_log2, check_missing, core_options
from ._progress import Progress
from ._result import Cluster, ShavingResult, build_result


def shave(X: Any, classes: Any = None, *, n_clusters: int = 5, shave: float = 0.10, n_permutations: int = 20,
          tolerance: float = 0.0, supervision: float = 0.0, n_jobs: Optional[int] = None,
          random_state: Any = _core.DEFAULT_SEED, missing: str = "error", progress: bool = False,
          solver: str = "exact", layer: Optional[str] = None, log2: Any = False,
          gene_symbols: Any = None) -> ShavingResult:
    """Find clusters of genes with gene shaving.

    Parameters
    ----------
    X : numpy.ndarray, pandas.DataFrame or AnnData
        The expression data. **A NumPy array or a DataFrame is genes x
        samples** (one row per gene, one column per sample; a DataFrame's
        index names the genes and its columns the samples). **An AnnData is
        samples x genes** (obs x var), as AnnData stores it. A C-contiguous
        float64 array is used as it is; anything else is converted once.
    classes : array-like of hashable, or str, optional
        One class per sample, of any values; with AnnData also the name of
        a column of ``adata.obs``. A pandas Series whose index holds the
        sample names is matched to the samples by name, anything else by
        position. Needed when ``supervision > 0``; written into the GCT.
    n_clusters : int, default 5
        Clusters to extract, from 1 to 100000; fewer come back when the data
        run out.
    shave : float, default 0.10
        Fraction of a cluster's genes shaved off per step: a whole percent
        from 0.01 to 0.97.
    n_permutations : int, default 20
        Row-permuted copies of the data per cluster for the gap statistic,
        from 1 to 1000000.
    tolerance : float, default 0.0
        Tolerance of the size choice, a whole percent from 0 to 1: the
        smallest size whose gap is within this fraction of the largest gap.
    supervision : float, default 0.0
        0 unsupervised, 1 fully supervised by ``classes``, a whole percent
        between for a mixture.
    n_jobs : int, optional
        Worker threads for the permuted copies; None or -1 uses every core,
        -2 all but one. The results are the same bits for any value.
    random_state : int, None, numpy.random.Generator or RandomState, default 1
        Starting state of the generator that permutes the copies, 0 to
        2**32 - 1: the same number starts the same state as ``tarvok run
        --seed N`` and R's ``shave(seed = N)``. The default is a fresh
        ``tarvok`` process's state, so the numbers equal those of the
        command-line program and the library. None continues the calling
        thread's own generator, so that each run draws new permutations; a
        NumPy generator gives a seed drawn from it.
    missing : {"error", "drop", "row-mean"}, default "error"
        What to do with NaN values (the core's missing-value policy): raise
        an error naming the first one, leave out every gene that has one, or
        replace them by the gene's mean of its other values (a gene without
        any value is left out). Under "drop" and "row-mean" a sample missing
        in every gene is left out first. Infinite values are refused under
        every policy.
    progress : bool, default False
        Show a progress bar (tqdm when installed, plain text otherwise).
    solver : {"exact", "fast"}, default "exact"
        How each shaving step finds its cluster's leading axis. "exact"
        decomposes the samples x samples matrix, O(samples^3) per step;
        "fast" runs restarted Lanczos warm-started from the previous step,
        for tables with many samples. Both give the same genes, sizes and
        eigenvalues (to about 1e-12). The results are the same bits for
        any ``n_jobs`` with either solver.

    layer : str, optional
        With AnnData, the layer to analyse instead of ``adata.X``.
    log2 : {"auto", True, False}, default False
        Take log2 of X before anything else; values <= 0 then become
        missing values for ``missing`` to handle. "auto" decides by the
        rule of the ``tarvok`` program (``--log2 auto``), from the quantiles
        of the values that are not missing (R's default quantile,
        type 7): log when the 99th percentile is above 100, or when the
        range is above 50 and the 25th percentile above 0. The default is
        False because a matrix handed over in memory is most often
        normalised already (log scale, or centred and scaled, where
        negative values would become missing), and is analysed as given;
        pass "auto" for the program's decision, and its numbers bit for bit,
        on the same data. The decision is kept in the result's ``log2``.
    gene_symbols : array-like of str, or str, optional
        One gene symbol per gene of X (None or empty for a gene without
        one); with AnnData also the name of a column of ``adata.var``. The
        gene names (X's index, ``var_names``) stay the genes' keys; the
        symbols stand beside them in each cluster's ``symbols``, the GCT's
        Description column, the CDT's NAME and ``clusters.symbols.gmt``.

    Returns
    -------
    ShavingResult
        The clusters, their components, a cluster label per gene, how many
        clusters were found and why the run stopped. Each cluster's
        component is signed so that more of its genes score positive than
        negative (ties: the larger sum of scores), as every face of tarvok
        presents it: a positive score follows the cluster's pattern, a
        negative one mirrors it. Its ``write_gmt``,
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
    matrix = as_matrix(X, check_missing(missing), layer, check_log2(log2))
    symbols = symbols_of(gene_symbols, X, matrix)
    codes: List[int] = []
    class_names: List[str] = []  # for the exports' sample classes
    if classes is not None:
        labels = class_labels(classes, matrix.n_samples, X, matrix.sample_names)
        labels = [labels[column] for column in matrix.columns.tolist()]  # the samples analysed
        codes = encode_classes(labels)
        class_names = [str(label) for label in labels]
    if options.supervision_percent > 0:
        if classes is None:
            raise ValueError("supervision > 0 needs classes, one class per sample")
        if len(set(codes)) < 2:
            raise ValueError("classes holds a single class; supervision needs at least two classes")
    display = Progress(options.clusters, options.permutations) if progress else None
    try:
        raw = _core.analyze(matrix.values, options.clusters, options.shave_percent, options.permutations,
                            options.tolerance_percent, options.supervision_percent,
                            codes if options.supervision_percent > 0 else [], options.threads,
                            options.generator_state, display, *export_labels(matrix), class_names,
                            solver=options.solver, gene_symbols=symbols)
    finally:
        if display is not None:
            display.close()
    return build_result(raw, matrix, None if options.generator_state < 0 else options.generator_state, symbols)

def _sklearn_bases() -> tuple:
    """scikit-learn's mixins when it is installed (clone, pipelines and check_estimator see a
    clusterer and transformer); the package runs without it."""
    try:
        from sklearn.base import BaseEstimator, ClusterMixin, TransformerMixin
    except ImportError:
        return ()
    return (ClusterMixin, TransformerMixin, BaseEstimator)


class GeneShaving(ExportMethods, *_sklearn_bases()):  # type: ignore[misc]
    """Gene shaving: clusters of genes with similar expression, sized by the gap statistic.

    A scikit-learn clusterer and transformer: the rows of X are the objects
    clustered (genes), its columns the features (samples). ``fit`` returns
    self, ``fit_predict`` the labels, ``transform`` each gene's scores on the
    fitted components; ``get_params``, ``set_params`` and
    ``sklearn.base.clone`` work as usual. The parameters are those of
    :func:`shave`.

    Parameters
    ----------
    n_clusters : int, default 5
    shave : float, default 0.10
    n_permutations : int, default 20
    tolerance : float, default 0.0
    supervision : float, default 0.0
    n_jobs : int, optional
    random_state : int, None, numpy.random.Generator or RandomState, default 1
    missing : {"error", "drop", "row-mean"}, default "error"
    progress : bool, default False
    solver : {"exact", "fast"}, default "exact"
        "fast" (restarted Lanczos) for tables with many samples.
    log2 : {"auto", True, False}, default False
        Take log2 of X first (see :func:`shave`); ``transform`` takes it
        too when the fit did.

    Attributes
    ----------
    clusters_ : list of Cluster
        One record per cluster: genes, signed scores, eigenvalue, component,
        chosen step, per-step sizes, gap, R² real and permuted, between,
        total and within variances. ``clusters_[0]`` is cluster 1.
    components_ : numpy.ndarray, shape (n_clusters_found_, n_samples)
        Each cluster's component over the samples (NaN for a sample that the
        missing policy left out).
    labels_ : numpy.ndarray of int, shape (n_genes,)
        0-based position of each gene's first cluster, -1 for none, as
        scikit-learn expects: label 0 is cluster 1 in every name, title and
        file.
    n_features_in_ : int
        Samples (columns of X) seen by ``fit``.
    feature_names_in_ : numpy.ndarray of str
        Their names, when X named them with strings.
    n_clusters_found_ : int
    stop_reason_ : str
        "completed", "no_clusters_left" or "variance_exhausted".
    result_ : ShavingResult
        All of the above in one object, with the caller's names.

    Once fitted, ``write_gmt(path)``, ``write_kgg(path)``, ``write_cdt(path)``,
    ``write_gct(path)`` and ``write_exports(directory)`` write the export
    files of the ``tarvok`` program (see :class:`ShavingResult`).

    Examples
    --------
    >>> import pandas as pd, tarvok
    >>> data = pd.read_csv("examples/data/golub.tsv", sep="\\t", index_col=0,
    ...                    float_precision="round_trip")  # genes x samples
    >>> model = tarvok.GeneShaving(n_clusters=3).fit(data)
    >>> model.clusters_[0].genes[:5]
    """

    def __init__(self, n_clusters: int = 5, shave: float = 0.10, n_permutations: int = 20, tolerance: float = 0.0,
                 supervision: float = 0.0, n_jobs: Optional[int] = None, random_state: Any = _core.DEFAULT_SEED,
                 missing: str = "error", progress: bool = False, solver: str = "exact", log2: Any = False) -> None:
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
        self.log2 = log2

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

    def __repr__(self, N_CHAR_MAX: int = 700) -> str:
        defaults = {name: p.default for name, p in inspect.signature(type(self).__init__).parameters.items()}
        changed = [f"{name}={value!r}" for name, value in self.get_params().items()
                   if not (type(value) is type(defaults[name]) and value == defaults[name])]
        return f"{type(self).__name__}({', '.join(changed)})"

    def _more_tags(self) -> Dict[str, Any]:
        # NaN is a missing value that "drop" and "row-mean" handle; the
        # scores are float64 whatever came in. check_clustering asks for
        # three blobs in two features: every gene is centred, so with two
        # samples each row is (d, -d), the permuted copies are the data
        # again and the gap is zero at every size; no clustering of rows by
        # correlation can tell those blobs apart.
        return {
            "allow_nan": self.missing in ("drop", "row-mean"),
            "preserves_dtype": [np.float64],
            "_xfail_checks": {
                "check_clustering": "gene shaving clusters centred rows: with two samples (columns) every row is "
                                    "(d, -d), so blobs in two features cannot be told apart",
            },
        }

    def __sklearn_is_fitted__(self) -> bool:
        return hasattr(self, "result_")

    def _export_record(self) -> Any:
        if not hasattr(self, "result_"):
            raise ValueError("this GeneShaving is not fitted yet; call fit before writing exports")
        return self.result_._export_record()

    def fit(self, X: Any, y: Any = None, *, classes: Any = None, annotate: bool = False,
            layer: Optional[str] = None, gene_symbols: Any = None) -> "GeneShaving":
        """Run gene shaving on X.

        Parameters
        ----------
        X : numpy.ndarray, pandas.DataFrame, scipy.sparse matrix or AnnData
            **Genes x samples** for arrays and DataFrames, samples x genes
            for AnnData (see :func:`shave`).
        y : ignored
            Accepted and ignored, as by every scikit-learn clusterer; the
            samples' classes come as ``classes``.
        classes : array-like of hashable, or str, optional
            One class per sample (with AnnData also a column of ``adata.obs``);
            needed when ``supervision > 0``.
        annotate : bool, default False
            With AnnData, also store the result in it, in what ``write_h5ad``
            saves: ``var`` columns ``tarvok_cluster`` (first cluster,
            numbered from 1; 0 for none), ``tarvok_score`` and ``tarvok_sign``
            (+1 or -1, 0 for none), ``varm["tarvok_scores"]`` (genes x
            clusters, NaN outside a cluster), ``obsm["tarvok_components"]``
            (samples x clusters) and ``uns["tarvok"]`` (parameters, version,
            stop reason and per-cluster numbers).
        layer : str, optional
            With AnnData, the layer to analyse instead of ``adata.X``.
        gene_symbols : array-like of str, or str, optional
            One symbol per gene (with AnnData also a column of
            ``adata.var``), carried beside the gene names (see :func:`shave`).

        Returns
        -------
        GeneShaving
            self, fitted.
        """
        if annotate and not is_anndata(X):
            raise TypeError("annotate=True needs an AnnData object as X")
        result = shave(X, classes, layer=layer, gene_symbols=gene_symbols, **self.get_params())
        names = result.sample_names
        self.__dict__.pop("feature_names_in_", None)  # from an earlier fit
        if names is not None and len(names) and all(isinstance(n, str) for n in names):
            self.feature_names_in_ = np.asarray(names, dtype=object)
        self.result_ = result
        self.clusters_: List[Cluster] = result.clusters
        self.components_ = np.asarray(result.components, dtype=np.float64)
        self.labels_ = np.asarray(result.labels, dtype=np.int64)
        self.n_features_in_ = self.components_.shape[1]
        self.n_clusters_found_ = result.n_clusters_found
        self.stop_reason_ = result.stop_reason
        if annotate:
            write_anndata(X, result, self.get_params())
        return self

    def fit_predict(self, X: Any, y: Any = None, **fit_params: Any) -> np.ndarray:
        """Fits and returns ``labels_``: each gene's first cluster, 0-based, -1 for none."""
        return self.fit(X, y, **fit_params).labels_

    def fit_transform(self, X: Any, y: Any = None, **fit_params: Any) -> np.ndarray:
        """Fits and returns ``transform(X)``."""
        return self.fit(X, y, **fit_params).transform(X, layer=fit_params.get("layer"))

    def transform(self, X: Any, *, layer: Optional[str] = None) -> np.ndarray:
        """Each gene's scores on the fitted components, like PCA's transform.

        A gene's row is centred (its mean taken over the samples the fit
        kept) and projected on each component, summed in sample order as
        the analysis sums a score: for the genes of the first cluster of an
        unsupervised run these are that cluster's scores, bit for bit.

        Parameters
        ----------
        X : numpy.ndarray, pandas.DataFrame or AnnData
            Genes x samples (AnnData samples x genes), with the samples of
            the fit, in the same order.
        layer : str, optional
            With AnnData, the layer to read.

        Returns
        -------
        numpy.ndarray, shape (n_genes, n_clusters_found_)
            NaN for a gene whose missing values the policy would drop.
        """
        if not hasattr(self, "result_"):
            raise _not_fitted()
        values, _, sample_names, _ = raw_values(X, layer)
        if values.shape[1] != self.n_features_in_:
            raise ValueError(f"X has {values.shape[1]} samples (columns, scikit-learn's features), but GeneShaving "
                             f"was fitted with {self.n_features_in_}; X is read as {ORIENTATION}")
        fitted_names = getattr(self, "feature_names_in_", None)
        if fitted_names is not None and sample_names is not None and \
                [str(n) for n in sample_names] != [str(n) for n in fitted_names]:
            raise ValueError("The feature names should match those that were passed during fit: X's samples "
                             "(columns) must be the fitted samples, in the same order")
        kept = self.result_.kept_samples
        values = np.ascontiguousarray(np.asarray(values, dtype=np.float64)[:, kept])
        if self.result_.log2 is not None and self.result_.log2["applied"]:
            values = _core.log2_transform(values, "yes")["values"]  # as the fit took it
        scores = np.full((values.shape[0], self.components_.shape[0]), np.nan)
        rows = np.arange(values.shape[0])
        if not np.isfinite(values).all():
            # The fit's missing policy, gene by gene: a row of zeros below X
            # keeps the policy from leaving out a sample missing in every gene.
            padded = np.vstack([values, np.zeros((1, values.shape[1]))])
            try:
                handled = _core.apply_missing_policy(padded, check_missing(self.missing))
            except _core.MissingValueError as error:
                word = ("inf" if padded[error.gene, error.sample] > 0 else "-inf") if error.infinite else "NaN"
                raise ValueError(f"X: {error} ({word})") from None
            rows, values = handled["genes"][:-1], handled["values"][:-1]
        scores[rows] = _core.project_rows(values, self.components_[:, kept])
        return scores


def _not_fitted() -> Exception:
    message = "this GeneShaving is not fitted yet; call fit first"
    try:
        from sklearn.exceptions import NotFittedError
    except ImportError:
        return ValueError(message)
    return NotFittedError(message)


def write_anndata(adata: Any, result: ShavingResult, params: Dict[str, Any]) -> None:
    """Stores the result in adata in the forms ``write_h5ad`` saves (see ``GeneShaving.fit``)."""
    from . import __version__

    labels = np.asarray(result.labels, dtype=np.int64)
    scores = np.full((len(labels), len(result.clusters)), np.nan)
    for k, cluster in enumerate(result.clusters):
        scores[cluster.gene_indices, k] = np.asarray(cluster.scores, dtype=np.float64)
    first = np.full(len(labels), np.nan)
    member = labels >= 0
    first[member] = scores[np.flatnonzero(member), labels[member]]
    adata.var["tarvok_cluster"] = labels + 1
    adata.var["tarvok_score"] = first
    adata.var["tarvok_sign"] = np.where(member, np.where(first > 0, 1, -1), 0).astype(np.int8)
    adata.varm["tarvok_scores"] = scores
    adata.obsm["tarvok_components"] = np.asarray(result.components, dtype=np.float64).T.copy()
    plain = {name: value for name, value in params.items() if value is not None and name != "random_state"}
    if result.seed is not None:
        plain["random_state"] = result.seed  # also the seed a NumPy generator gave
    adata.uns["tarvok"] = {
        "version": __version__,
        "params": plain,
        "n_clusters_found": result.n_clusters_found,
        "stop_reason": result.stop_reason,
        "sizes": np.array([c.size for c in result.clusters], dtype=np.int64),
        "eigenvalues": np.array([c.eigenvalue for c in result.clusters], dtype=np.float64),
        "gaps": np.array([c.gap[c.chosen_step] for c in result.clusters], dtype=np.float64),
        "r2": np.array([c.r2[c.chosen_step] for c in result.clusters], dtype=np.float64),
    }
