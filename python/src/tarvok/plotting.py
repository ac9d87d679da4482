"""Figures of a fitted analysis with matplotlib (Debian python3-matplotlib).

Every function takes a fitted :class:`~tarvok.GeneShaving` or a
:class:`~tarvok.ShavingResult`, draws into ``ax`` (a new figure's axes when
None) and returns the Axes.
"""
from __future__ import annotations

from typing import Any, Optional

import numpy as np

from ._inputs import encode_classes, raw_values
from ._result import Cluster, ShavingResult


def _cluster(result: Any, cluster: int) -> Cluster:
    found: ShavingResult = getattr(result, "result_", result)
    if not isinstance(found, ShavingResult):
        raise TypeError("pass a fitted GeneShaving or a ShavingResult")
    if not 0 <= cluster < len(found.clusters):
        raise ValueError(f"cluster must be from 0 to {len(found.clusters) - 1}; got {cluster}")
    return found.clusters[cluster]


def _axes(ax: Optional[Any]) -> Any:
    if ax is not None:
        return ax
    import matplotlib.pyplot as plt

    return plt.subplots()[1]


def _mark_chosen(ax: Any, chosen: Cluster) -> None:
    ax.axvline(chosen.size, color="grey", linestyle=":", label=f"chosen: {chosen.size} genes")
    ax.set_xscale("log")
    ax.set_xlabel("genes in cluster")
    ax.legend()


def plot_gap(result: Any, cluster: int = 0, ax: Optional[Any] = None) -> Any:
    """Gap curve of one cluster: gap against cluster size, the chosen size marked.

    Parameters
    ----------
    result : GeneShaving or ShavingResult
    cluster : int, default 0
        Position of the cluster in ``clusters_``.
    ax : matplotlib.axes.Axes, optional

    Returns
    -------
    matplotlib.axes.Axes
    """
    chosen = _cluster(result, cluster)
    ax = _axes(ax)
    ax.plot(chosen.sizes, chosen.gap, marker=".", label="gap")
    ax.set_ylabel("gap (R² real - mean R² permuted)")
    ax.set_title(f"cluster {cluster}: gap statistic")
    _mark_chosen(ax, chosen)
    return ax


def plot_r2(result: Any, cluster: int = 0, ax: Optional[Any] = None) -> Any:
    """R² of the real data and mean R² of the permuted copies against cluster size.

    Parameters and return as :func:`plot_gap`.
    """
    chosen = _cluster(result, cluster)
    ax = _axes(ax)
    ax.plot(chosen.sizes, chosen.r2, marker=".", label="real data")
    ax.plot(chosen.sizes, chosen.r2_permuted, marker=".", label="permuted (mean)")
    ax.set_ylabel("R² (percent of variance between samples)")
    ax.set_title(f"cluster {cluster}: real vs permuted R²")
    _mark_chosen(ax, chosen)
    return ax


def plot_heatmap(result: Any, X: Any, cluster: int = 0, ax: Optional[Any] = None) -> Any:
    """Heatmap of one cluster's genes (rows, cluster order) over the samples, each gene centred.

    Parameters
    ----------
    result : GeneShaving or ShavingResult
    X : numpy.ndarray, pandas.DataFrame or AnnData
        The data the result was fitted on.
    cluster : int, default 0
    ax : matplotlib.axes.Axes, optional

    Returns
    -------
    matplotlib.axes.Axes
    """
    chosen = _cluster(result, cluster)
    values, _, samples, _ = raw_values(X)
    block = np.asarray(values, dtype=np.float64)[chosen.gene_indices]
    block = block - np.nanmean(block, axis=1, keepdims=True)
    ax = _axes(ax)
    limit = float(np.nanmax(np.abs(block))) or 1.0
    image = ax.imshow(block, aspect="auto", cmap="RdBu_r", vmin=-limit, vmax=limit, interpolation="nearest")
    ax.figure.colorbar(image, ax=ax, label="centred expression")
    ax.set_xlabel("samples")
    ax.set_ylabel(f"{chosen.size} genes")
    if samples is not None and len(samples) <= 60:
        ax.set_xticks(range(len(samples)), [str(s) for s in samples], rotation=90, fontsize="small")
    ax.set_title(f"cluster {cluster}")
    return ax


def plot_component(result: Any, cluster: int = 0, y: Any = None, ax: Optional[Any] = None) -> Any:
    """One cluster's component per sample, grouped by class when ``y`` is given.

    Parameters
    ----------
    result : GeneShaving or ShavingResult
    cluster : int, default 0
    y : array-like of hashable, optional
        One class per sample.
    ax : matplotlib.axes.Axes, optional

    Returns
    -------
    matplotlib.axes.Axes
    """
    chosen = _cluster(result, cluster)
    component = np.asarray(chosen.component, dtype=np.float64)
    ax = _axes(ax)
    if y is None:
        ax.plot(np.arange(len(component)), component, marker="o", linestyle="-")
        ax.set_xlabel("sample")
    else:
        classes = np.asarray(encode_classes(y, len(component)))
        names = list(dict.fromkeys(np.asarray(y).tolist()))
        for code, name in enumerate(names):
            points = component[classes == code]
            jitter = np.linspace(-0.15, 0.15, len(points)) if len(points) > 1 else np.zeros(1)
            ax.scatter(code + jitter, points, label=str(name))
        ax.set_xticks(range(len(names)), [str(n) for n in names])
        ax.set_xlabel("class")
    ax.axhline(0.0, color="grey", linewidth=0.5)
    ax.set_ylabel("component")
    ax.set_title(f"cluster {cluster}: component")
    return ax
