"""Reading the caller's data into the genes x samples matrix the core takes.

Orientation: a NumPy array or a pandas DataFrame is genes x samples (one
row per gene, one column per sample); an AnnData object is samples x genes,
as AnnData stores it, and is turned around here.
"""
from __future__ import annotations

from dataclasses import dataclass
from typing import Any, List, Optional, Sequence

import numpy as np

ORIENTATION = "genes x samples: one row per gene, one column per sample"


@dataclass
class Matrix:
    """The matrix handed to the core, and how its rows map back."""

    values: np.ndarray  # genes x samples, C-contiguous float64
    rows: np.ndarray  # the caller's row (gene) of each row of values
    n_genes: int  # genes the caller gave, before any was dropped
    gene_names: Optional[Any]  # pandas Index of every gene the caller gave, or None
    sample_names: Optional[Any]  # pandas Index of the samples, or None
    kind: str  # "array", "dataframe" or "anndata"


def is_anndata(X: Any) -> bool:
    """AnnData, recognised by its shape (obs/var names and .X) so the package needs no import."""
    return all(hasattr(X, name) for name in ("X", "obs_names", "var_names", "obs", "var", "uns"))


def _is_dataframe(X: Any) -> bool:
    return type(X).__name__ == "DataFrame" and hasattr(X, "dtypes") and hasattr(X, "to_numpy")


def _dense(values: Any) -> Any:
    return values.toarray() if hasattr(values, "toarray") else values  # scipy.sparse


def _numeric_array(values: Any, what: str) -> np.ndarray:
    array = np.asarray(values)
    if array.dtype.kind in "iuf":
        return array
    if array.dtype.kind == "O":
        try:
            return array.astype(np.float64)
        except (TypeError, ValueError) as error:
            raise TypeError(f"{what} must hold numbers only ({error})") from None
    raise TypeError(f"{what} must hold real numbers; it holds {array.dtype} values")


def raw_values(X: Any) -> tuple:
    """(values genes x samples, gene names or None, sample names or None, kind), nothing checked but type."""
    if is_anndata(X):
        values = _numeric_array(_dense(X.X), "adata.X").T
        return values, X.var_names, X.obs_names, "anndata"
    if _is_dataframe(X):
        bad = [str(name) for name, dtype in X.dtypes.items() if dtype.kind not in "iuf"]
        if bad:
            listed = ", ".join(bad[:3]) + (", ..." if len(bad) > 3 else "")
            raise TypeError(f"X has columns that are not numbers ({listed}); a DataFrame is {ORIENTATION}, "
                            "so move gene annotations into the index or drop them")
        return X.to_numpy(dtype=np.float64, na_value=np.nan), X.index, X.columns, "dataframe"
    values = _numeric_array(_dense(X), "X")
    if values.ndim != 2:
        raise ValueError(f"X must be 2-D, {ORIENTATION}; got an array of shape {values.shape}")
    return values, None, None, "array"


def _name(names: Optional[Any], index: int, what: str) -> str:
    return f"{what} {names[index]!r} ({what} {index})" if names is not None else f"{what} {index}"


def _fill_row_means(values: np.ndarray, bad: np.ndarray) -> np.ndarray:
    """Each non-finite value becomes its gene's mean of the finite ones, summed in sample order from 0.0."""
    for g in np.flatnonzero(bad.any(axis=1)):
        finite = values[g][~bad[g]]
        total = 0.0
        for value in finite.tolist():
            total += value
        values[g][bad[g]] = total / len(finite)
    return values


def as_matrix(X: Any, missing: str = "error") -> Matrix:
    """Converts X once into a C-contiguous float64 genes x samples matrix (no copy when it already is one)."""
    values, gene_names, sample_names, kind = raw_values(X)
    n_genes = values.shape[0]
    rows = np.arange(n_genes)
    bad = ~np.isfinite(values)
    if bad.any():
        if missing == "error":
            g, s = (int(i) for i in np.argwhere(bad)[0])
            what = "NaN" if np.isnan(values[g, s]) else "an infinite value"
            raise ValueError(f"X has {what} at {_name(gene_names, g, 'gene')}, {_name(sample_names, s, 'sample')}; "
                             "pass missing='drop' to leave out genes with such values, or missing='row-mean' "
                             "to fill them with the gene's mean")
        keep = ~bad.all(axis=1) if missing == "row-mean" else ~bad.any(axis=1)
        rows = np.flatnonzero(keep)
        values = values[keep]  # a copy
        if missing == "row-mean":
            values = _fill_row_means(values, bad[keep])
    values = np.ascontiguousarray(values, dtype=np.float64)
    genes, samples = values.shape
    if genes < 2 or samples < 2:
        count, what = (genes, "gene") if genes < 2 else (samples, "sample")
        where = {"anndata": "AnnData is samples x genes (obs x var)"}.get(kind, f"X is read as {ORIENTATION}")
        dropped = f" after leaving out {n_genes - genes} with missing values" if genes < n_genes else ""
        raise ValueError(f"X has {count} {what}{'' if count == 1 else 's'}{dropped}; at least 2 genes and 2 samples "
                         f"are needed ({where}; transpose X if its rows are samples)")
    return Matrix(values, rows, n_genes, gene_names, sample_names, kind)


def class_labels(y: Any, n_samples: int, X: Any = None) -> List[Any]:
    """One class per sample, of any hashable values, checked; with AnnData y may name a column of ``adata.obs``."""
    if isinstance(y, str) and X is not None and is_anndata(X):
        if y not in X.obs:
            raise ValueError(f"y={y!r} is not a column of adata.obs")
        y = X.obs[y]
    if hasattr(y, "ndim") and y.ndim != 1:
        raise ValueError(f"y must be 1-D, one class per sample; got shape {y.shape}")
    labels: Sequence = list(y.tolist() if hasattr(y, "tolist") else y)
    if len(labels) != n_samples:
        raise ValueError(f"y has {len(labels)} entries but X has {n_samples} samples; give one class per sample "
                         f"(X is {ORIENTATION})")
    for s, label in enumerate(labels):
        if label is None or (isinstance(label, float) and label != label):
            raise ValueError(f"y has no class for sample {s}; every sample needs one")
    return list(labels)


def encode_classes(y: Any, n_samples: int, X: Any = None) -> List[int]:
    """One class per sample, of any hashable values, as 0, 1, ... in order of first appearance.

    With AnnData, y may name a column of ``adata.obs``.
    """
    codes: dict = {}
    classes = []
    for s, label in enumerate(class_labels(y, n_samples, X)):
        try:
            classes.append(codes.setdefault(label, len(codes)))
        except TypeError:
            raise TypeError(f"y's class of sample {s} ({label!r}) is not hashable") from None
    return classes


def export_labels(matrix: Matrix) -> tuple:
    """(gene labels, sample labels) of the analysed matrix for the export files.

    The caller's names as text; without names, the labels the ``tarvok``
    program makes up for a table without them: GENE00001, ... by the
    caller's row, sample00001, ...
    """
    if matrix.gene_names is not None:
        genes = [str(matrix.gene_names[row]) for row in matrix.rows.tolist()]
    else:
        genes = [f"GENE{row + 1:05d}" for row in matrix.rows.tolist()]
    n_samples = matrix.values.shape[1]
    if matrix.sample_names is not None:
        samples = [str(name) for name in matrix.sample_names]
    else:
        samples = [f"sample{s + 1:05d}" for s in range(n_samples)]
    return genes, samples
