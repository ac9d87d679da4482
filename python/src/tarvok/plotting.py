"""Figures of a fitted analysis with matplotlib (Debian python3-matplotlib).

Every function takes a fitted :class:`~tarvok.GeneShaving` or a
:class:`~tarvok.ShavingResult` and a cluster numbered from 1 (as in every
title and file; ``labels_`` counts from 0), draws into ``ax`` (a new
figure's axes when None) and returns the Axes. Legends sit outside the
axes, so they never cover the data.
"""
from __future__ import annotations

from typing import Any, List, Optional

import numpy as np

from ._inputs import class_labels, raw_values
from ._result import Cluster, ShavingResult


def _result(result: Any) -> ShavingResult:
    found = getattr(result, "result_", result)
    if not isinstance(found, ShavingResult):
        raise TypeError("pass a fitted GeneShaving or a ShavingResult")
    return found


def _cluster(result: Any, cluster: int) -> Cluster:
    found = _result(result)
    if isinstance(cluster, bool) or not isinstance(cluster, (int, np.integer)) or \
            not 1 <= cluster <= len(found.clusters):
        raise ValueError(f"cluster must be a cluster number from 1 to {len(found.clusters)}; got {cluster!r}")
    return found.clusters[int(cluster) - 1]


def _axes(ax: Optional[Any]) -> Any:
    if ax is not None:
        return ax
    import matplotlib.pyplot as plt

    return plt.subplots(layout="constrained")[1]


def _legend_outside(ax: Any, **options: Any) -> Any:
    """The legend to the right of the axes, clear of the data."""
    return ax.legend(loc="upper left", bbox_to_anchor=(1.02, 1.0), borderaxespad=0.0, fontsize="small", **options)


def _mark_chosen(ax: Any, chosen: Cluster) -> None:
    ax.axvline(chosen.size, color="grey", linestyle=":", label=f"chosen: {chosen.size} genes")
    ax.set_xscale("log")
    ax.set_xlabel("genes in cluster")
    _legend_outside(ax)


def plot_gap(result: Any, cluster: int = 1, ax: Optional[Any] = None) -> Any:
    """Gap curve of one cluster: gap against cluster size, the chosen size marked.

    Parameters
    ----------
    result : GeneShaving or ShavingResult
    cluster : int, default 1
        The cluster's number, from 1.
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


def plot_r2(result: Any, cluster: int = 1, ax: Optional[Any] = None) -> Any:
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


def _classes(classes: Any, n_samples: int, X: Any = None, sample_names: Any = None) -> tuple:
    """(class names in order of first appearance, each sample's position among them)."""
    labels = class_labels(classes, n_samples, X, sample_names)
    names: List[Any] = list(dict.fromkeys(labels))
    return names, np.array([names.index(label) for label in labels])


def _class_colours(count: int) -> Any:
    import matplotlib

    palette = matplotlib.colormaps["tab10" if count <= 10 else "tab20"]
    return [palette(i % palette.N) for i in range(count)]


def plot_heatmap(result: Any, X: Any, cluster: int = 1, classes: Any = None, ax: Optional[Any] = None,
                 layer: Optional[str] = None) -> Any:
    """Heatmap of one cluster's genes (rows, cluster order) over the samples, each gene centred,
    with a colour key and, given ``classes``, a strip above it colouring each sample by class.

    Parameters
    ----------
    result : GeneShaving or ShavingResult
    X : numpy.ndarray, pandas.DataFrame or AnnData
        The data the result was fitted on.
    cluster : int, default 1
    classes : array-like of hashable, or str, optional
        One class per sample (with AnnData also a column of ``adata.obs``).
    ax : matplotlib.axes.Axes, optional
    layer : str, optional
        With AnnData, the layer the result was fitted on.

    Returns
    -------
    matplotlib.axes.Axes
        The heatmap's axes; the key and the strip are inset axes of it.
    """
    from matplotlib.colors import ListedColormap
    from matplotlib.patches import Patch

    chosen = _cluster(result, cluster)
    values, _, samples, _ = raw_values(X, layer)
    block = np.asarray(values, dtype=np.float64)[chosen.gene_indices]
    block = block - np.nanmean(block, axis=1, keepdims=True)
    ax = _axes(ax)
    limit = float(np.nanmax(np.abs(block))) if np.isfinite(block).any() else 0.0
    limit = limit or 1.0
    image = ax.imshow(block, aspect="auto", cmap="RdBu_r", vmin=-limit, vmax=limit, interpolation="nearest")
    # The key and the strip are insets of the heatmap's axes, so that a layout engine keeps them with it.
    key = ax.inset_axes([1.02, 0.0, 0.03, 1.0])
    ax.figure.colorbar(image, cax=key, label="centred expression")
    ax.set_xlabel("samples")
    ax.set_ylabel(f"{chosen.size} genes")
    if samples is not None and len(samples) <= 60:
        ax.set_xticks(range(len(samples)), [str(s) for s in samples], rotation=90, fontsize="small")
    title_axes = ax
    if classes is not None:
        names, codes = _classes(classes, block.shape[1], X, samples)
        colours = _class_colours(len(names))
        strip = ax.inset_axes([0.0, 1.01, 1.0, 0.05], sharex=ax)
        strip.imshow(codes[np.newaxis, :], aspect="auto", cmap=ListedColormap(colours), vmin=-0.5,
                     vmax=len(names) - 0.5, interpolation="nearest")
        strip.set_yticks([0], ["class"], fontsize="small")
        strip.tick_params(axis="x", bottom=False, labelbottom=False)
        strip.legend(handles=[Patch(color=colours[i], label=str(name)) for i, name in enumerate(names)],
                     loc="lower right", bbox_to_anchor=(1.0, 1.05), borderaxespad=0.0, fontsize="small",
                     ncol=min(len(names), 6), frameon=False)
        title_axes = strip
    title_axes.set_title(f"cluster {cluster}", loc="left" if classes is not None else "center")
    return ax


def plot_component(result: Any, cluster: int = 1, classes: Any = None, ax: Optional[Any] = None) -> Any:
    """One cluster's component over the samples in their order; given ``classes``, each
    sample coloured by its class, the class names in the legend.

    Parameters
    ----------
    result : GeneShaving or ShavingResult
    cluster : int, default 1
    classes : array-like of hashable, optional
        One class per sample (a pandas Series indexed by sample names is
        matched by name).
    ax : matplotlib.axes.Axes, optional

    Returns
    -------
    matplotlib.axes.Axes
    """
    chosen = _cluster(result, cluster)
    component = np.asarray(chosen.component, dtype=np.float64)
    positions = np.arange(len(component))
    ax = _axes(ax)
    ax.plot(positions, component, color="lightgrey", linewidth=0.8, zorder=1)
    if classes is None:
        ax.scatter(positions, component, s=16, zorder=2)
    else:
        names, codes = _classes(classes, len(component), sample_names=_result(result).sample_names)
        for code, (name, colour) in enumerate(zip(names, _class_colours(len(names)))):
            here = codes == code
            ax.scatter(positions[here], component[here], s=16, color=colour, label=str(name), zorder=2)
        _legend_outside(ax, title="class")
    samples = _result(result).sample_names
    if samples is not None and len(samples) <= 60:
        ax.set_xticks(positions, [str(s) for s in samples], rotation=90, fontsize="small")
    ax.axhline(0.0, color="grey", linewidth=0.5)
    ax.set_xlabel("sample")
    ax.set_ylabel("component")
    ax.set_title(f"cluster {cluster}: component")
    return ax
