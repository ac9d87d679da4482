"""Reading the caller's data into the genes x samples matrix the core takes.

Orientation: a NumPy array or a pandas DataFrame is genes x samples (one
row per gene, one column per sample), as scikit-learn's rows are the objects
clustered; an AnnData object is samples x genes, as AnnData stores it, and is
turned around here. Log2 is taken by the core's rule when asked, then missing
values are handled by the core's policy.
"""
from __future__ import annotations

import warnings
from dataclasses import dataclass
from typing import Any, List, Optional

import numpy as np

from . import _core

ORIENTATION = "genes x samples: one row per gene, one column per sample"


@dataclass
class Matrix:
    """The matrix handed to the core, and how its rows and columns map back."""

    values: np.ndarray  # kept genes x kept samples, C-contiguous float64
    rows: np.ndarray  # the caller's row (gene) of each row of values
    columns: np.ndarray  # the caller's column (sample) of each column of values
    n_genes: int  # genes the caller gave, before any was left out
    n_samples: int  # samples the caller gave
    gene_names: Optional[Any]  # pandas Index of every gene the caller gave, or None
    sample_names: Optional[Any]  # pandas Index of every sample the caller gave, or None
    kind: str  # "array", "dataframe" or "anndata"
    log2: Optional[dict] = None  # the core's log2 decision: choice, applied, reason, non_positive


def is_anndata(X: Any) -> bool:
    """AnnData, recognised by its shape (obs/var names and .X) so the package needs no import."""
    return all(hasattr(X, name) for name in ("X", "obs_names", "var_names", "obs", "var", "uns"))


def _is_dataframe(X: Any) -> bool:
    return type(X).__name__ == "DataFrame" and hasattr(X, "dtypes") and hasattr(X, "to_numpy")


def _dense(values: Any) -> Any:
    return values.toarray() if hasattr(values, "toarray") else values  # scipy.sparse


def _number(cell: Any) -> float:
    """One cell of an object array: a missing word (NA, empty, ...) is NaN; text is read locale-free."""
    if isinstance(cell, str) and _core.is_missing_word(cell):
        return np.nan
    return float(cell)


def _numeric_array(values: Any, what: str) -> np.ndarray:
    array = np.asarray(values)
    if array.dtype.kind in "biuf":
        return array
    if array.dtype.kind == "c":
        raise ValueError(f"Complex data not supported: {what} must hold real numbers; it holds {array.dtype} values")
    if array.dtype.kind in "OUS":
        try:
            return np.vectorize(_number, otypes=[np.float64])(array) if array.size else array.astype(np.float64)
        except (TypeError, ValueError) as error:
            raise TypeError(f"{what} must hold numbers only ({error})") from None
    raise TypeError(f"{what} must hold real numbers; it holds {array.dtype} values")


def raw_values(X: Any, layer: Optional[str] = None) -> tuple:
    """(values genes x samples, gene names or None, sample names or None, kind), nothing checked but type."""
    if is_anndata(X):
        if layer is None:
            source, what = X.X, "adata.X"
        elif layer in X.layers:
            source, what = X.layers[layer], f"adata.layers[{layer!r}]"
        else:
            raise ValueError(f"layer={layer!r} is not a layer of the AnnData; its layers: "
                             f"{', '.join(map(repr, X.layers.keys())) or 'none'}")
        values = _numeric_array(_dense(source), what).T
        return values, X.var_names, X.obs_names, "anndata"
    if layer is not None:
        raise TypeError("layer= picks a layer of an AnnData; X is not one")
    if _is_dataframe(X):
        bad = [str(name) for name, dtype in X.dtypes.items() if dtype.kind not in "biuf"]
        if bad:
            listed = ", ".join(bad[:3]) + (", ..." if len(bad) > 3 else "")
            raise TypeError(f"X has columns that are not numbers ({listed}); a DataFrame is {ORIENTATION}, "
                            "so move gene annotations into the index or drop them")
        return X.to_numpy(dtype=np.float64, na_value=np.nan), X.index, X.columns, "dataframe"
    values = _numeric_array(_dense(X), "X")
    if values.ndim != 2:
        raise ValueError(f"X must be 2-D, {ORIENTATION}; got an array of shape {values.shape}. Reshape your "
                         "data with X.reshape(1, -1) if it holds a single gene")
    return values, None, None, "array"


def _warn_duplicates(names: Optional[Any], what: str) -> None:
    if names is None or len(names) == 0:
        return
    seen: dict = {}
    for name in names:
        seen[name] = seen.get(name, 0) + 1
    doubled = [str(name) for name, count in seen.items() if count > 1]
    if doubled:
        listed = ", ".join(doubled[:3]) + (", ..." if len(doubled) > 3 else "")
        warnings.warn(f"X has duplicate {what} names ({listed}); results name them as given, so they cannot be "
                      f"told apart by name", UserWarning, stacklevel=4)


def _named(names: Optional[Any], index: int) -> str:
    return f" ({names[index]!r})" if names is not None else ""


def _missing_error(error: Exception, values: np.ndarray, gene_names: Any, sample_names: Any) -> ValueError:
    """The core's message, with the caller's names, the value and what to do about it."""
    g, s = int(error.gene), int(error.sample)  # type: ignore[attr-defined]
    infinite = bool(error.infinite)  # type: ignore[attr-defined]
    value = ("inf" if values[g, s] > 0 else "-inf") if infinite else "NaN"
    where = f"gene {g + 1}{_named(gene_names, g)}, sample {s + 1}{_named(sample_names, s)}"
    if infinite:
        return ValueError(f"{error} ({where}: {value}); infinite values are refused under every missing policy")
    return ValueError(f"{error} ({where}: {value}); pass missing='drop' to leave out genes with missing values, "
                      "or missing='row-mean' to fill them with the gene's mean")


def _check_shape(genes: int, samples: int, n_genes: int, kind: str) -> None:
    """At least 2 genes and 2 samples, in words that say which way X is read (and scikit-learn's)."""
    if genes >= 2 and samples >= 2:
        return
    if kind == "anndata":
        how = "an AnnData is samples x genes (obs x var)"
    else:
        how = f"X is read as {ORIENTATION}; transpose X if its rows are samples"
    shape = f"shape=({genes}, {samples})"
    if genes < 2:
        dropped = f" after leaving out {n_genes - genes} with missing values" if genes < n_genes else ""
        raise ValueError(f"X has {genes} gene{'' if genes == 1 else 's'}{dropped} (rows, scikit-learn's samples): "
                         f"{genes} sample(s) ({shape}) while a minimum of 2 is required. At least 2 genes and 2 "
                         f"samples are needed; {how}")
    raise ValueError(f"X has {samples} sample{'' if samples == 1 else 's'} (columns, scikit-learn's features): "
                     f"{samples} feature(s) ({shape}) while a minimum of 2 is required. At least 2 genes and 2 "
                     f"samples are needed; {how}")


def as_matrix(X: Any, missing: str = "error", layer: Optional[str] = None, log2: str = "no") -> Matrix:
    """Converts X once into a C-contiguous float64 genes x samples matrix (no copy when it already is one
    and no log2 is taken); log2 ("auto", "yes", "no") goes before the missing-value policy."""
    values, gene_names, sample_names, kind = raw_values(X, layer)
    n_genes, n_samples = values.shape
    # "no" asks the core only for its words: no copy of the values.
    logged = _core.log2_transform(values if log2 != "no" else np.zeros((0, 1)), log2)
    decision = {"choice": log2, "applied": bool(logged["applied"]), "reason": str(logged["reason"]),
                "non_positive": int(logged["non_positive"])}
    if decision["applied"]:
        values = logged["values"]
    _warn_duplicates(gene_names, "gene")
    _warn_duplicates(sample_names, "sample")
    rows, columns = np.arange(n_genes), np.arange(n_samples)
    if not np.isfinite(values).all():
        try:
            kept = _core.apply_missing_policy(values, missing)
        except _core.MissingValueError as error:
            raise _missing_error(error, np.asarray(values, dtype=np.float64), gene_names, sample_names) from None
        values, rows, columns = kept["values"], kept["genes"].astype(np.intp), kept["samples"].astype(np.intp)
    values = np.ascontiguousarray(values, dtype=np.float64)
    _check_shape(values.shape[0], values.shape[1], n_genes, kind)
    return Matrix(values, rows, columns, n_genes, n_samples, gene_names, sample_names, kind, decision)


def class_labels(classes: Any, n_samples: int, X: Any = None, sample_names: Any = None) -> List[Any]:
    """One class per sample, of any hashable values, checked.

    With AnnData, classes may name a column of ``adata.obs``. A pandas Series
    whose index holds every sample name is matched to the samples by name;
    otherwise entries are taken in sample order.
    """
    if isinstance(classes, str) and X is not None and is_anndata(X):
        if classes not in X.obs:
            raise ValueError(f"classes={classes!r} is not a column of adata.obs")
        classes = X.obs[classes]
    if hasattr(classes, "ndim") and classes.ndim != 1:
        raise ValueError(f"classes must be 1-D, one class per sample; got shape {classes.shape}")
    if _is_series(classes) and sample_names is not None and _index_names_samples(classes.index):
        missing = [name for name in sample_names if name not in classes.index]
        if not missing and classes.index.is_unique:
            classes = classes.loc[list(sample_names)]
        elif any(name in classes.index for name in sample_names):
            absent = ", ".join(map(repr, missing[:3])) + (", ..." if len(missing) > 3 else "")
            raise ValueError(f"classes is a Series indexed by sample names, but its index "
                             f"{'lacks ' + absent if missing else 'repeats a name'}; give every sample one class")
    labels = list(classes.tolist() if hasattr(classes, "tolist") else classes)
    if len(labels) != n_samples:
        raise ValueError(f"classes has {len(labels)} entries but X has {n_samples} samples; give one class per "
                         f"sample (X is {ORIENTATION})")
    for s, label in enumerate(labels):
        if label is None or (isinstance(label, float) and label != label):
            raise ValueError(f"classes has no class for sample {s + 1}; every sample needs one")
    return labels


def _is_series(values: Any) -> bool:
    return type(values).__name__ == "Series" and hasattr(values, "index") and hasattr(values, "loc")


def _index_names_samples(index: Any) -> bool:
    """An index that can name samples: anything but pandas' default 0, 1, 2, ..."""
    return type(index).__name__ != "RangeIndex"


def encode_classes(labels: List[Any]) -> List[int]:
    """Classes of any hashable values as 0, 1, ... in order of first appearance."""
    codes: dict = {}
    encoded = []
    for s, label in enumerate(labels):
        try:
            encoded.append(codes.setdefault(label, len(codes)))
        except TypeError:
            raise TypeError(f"the class of sample {s + 1} ({label!r}) is not hashable") from None
    return encoded


def export_labels(matrix: Matrix) -> tuple:
    """(gene labels, sample labels) of the analysed matrix for the export files.

    The caller's names as text; without names, the labels the ``tarvok``
    program makes up for a table without them: GENE00001, ... by the
    caller's row, sample00001, ... by the caller's column.
    """
    if matrix.gene_names is not None:
        genes = [str(matrix.gene_names[row]) for row in matrix.rows.tolist()]
    else:
        genes = [f"GENE{row + 1:05d}" for row in matrix.rows.tolist()]
    if matrix.sample_names is not None:
        samples = [str(matrix.sample_names[column]) for column in matrix.columns.tolist()]
    else:
        samples = [f"sample{column + 1:05d}" for column in matrix.columns.tolist()]
    return genes, samples


def gene_symbols(symbols: Any, X: Any, matrix: Matrix) -> List[str]:
    """The symbol of each analysed gene ("" for none), or [] without symbols.

    symbols holds one entry per gene of X, in X's gene order (None, NaN and
    empty text for a gene without one); with AnnData it may also name a
    column of ``adata.var``. The symbols travel beside the gene labels into
    the exports (the GCT's Description, the CDT's NAME, the symbol GMT).
    """
    if symbols is None:
        return []
    if isinstance(symbols, str):
        if not is_anndata(X) or symbols not in X.var:
            raise ValueError(f"gene_symbols={symbols!r} names no column of adata.var; give one symbol per gene "
                             "or, with AnnData, a column of adata.var")
        symbols = X.var[symbols]
    values = list(symbols.tolist() if hasattr(symbols, "tolist") else symbols)
    if len(values) != matrix.n_genes:
        raise ValueError(f"gene_symbols holds {len(values)} entries for {matrix.n_genes} genes; give one per gene")

    def text(value: Any) -> str:
        """None and NaN as no symbol; the core cleans the rest as the program does (CleanSymbol)."""
        return "" if value is None or (isinstance(value, float) and value != value) else str(value)

    return [text(values[row]) for row in matrix.rows.tolist()]
