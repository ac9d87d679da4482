"""The estimator's conventions, thread-count independence, progress, plots and export files."""
import io
import pickle
from pathlib import Path

import numpy as np
import pytest

import tarvok
from tarvok._progress import Progress

FAST = dict(n_clusters=2, n_permutations=2, n_jobs=1)


def assert_same_result(a, b):
    """Every number of two results, compared with == (NaN never expected)."""
    assert a.n_clusters_found == b.n_clusters_found and a.stop_reason == b.stop_reason
    for x, y in zip(a.clusters, b.clusters):
        assert x.eigenvalue == y.eigenvalue and x.chosen_step == y.chosen_step and x.size == y.size
        for name in ("gene_indices", "scores", "component", "sizes", "gap", "r2", "r2_permuted", "between",
                     "total", "within"):
            assert np.array_equal(np.asarray(getattr(x, name)), np.asarray(getattr(y, name))), name
    assert np.array_equal(np.asarray(a.labels), np.asarray(b.labels))


def test_sklearn_conventions(blocks):
    sklearn_base = pytest.importorskip("sklearn.base")
    model = tarvok.GeneShaving(n_clusters=3, shave=0.2, n_jobs=2, solver="fast")
    assert model.get_params()["shave"] == 0.2 and model.get_params()["solver"] == "fast"
    assert repr(model) == "GeneShaving(n_clusters=3, shave=0.2, n_jobs=2, solver='fast')"
    copy = sklearn_base.clone(model)
    assert copy is not model and copy.get_params() == model.get_params()
    assert model.set_params(solver="exact") is model and model.solver == "exact"
    assert model.set_params(n_clusters=2, n_permutations=2) is model and model.n_clusters == 2
    with pytest.raises(ValueError, match="no parameter 'clusters'"):
        model.set_params(clusters=2)
    assert not hasattr(model, "clusters_")
    assert model.fit(blocks) is model
    for name in ("clusters_", "components_", "labels_", "n_clusters_found_", "stop_reason_", "n_features_in_"):
        assert hasattr(model, name)
    assert model.components_.shape == (model.n_clusters_found_, 8) and model.n_features_in_ == 8
    assert not hasattr(sklearn_base.clone(model), "clusters_")
    assert_same_result(model.result_, tarvok.shave(blocks, **model.get_params()))
    # y is scikit-learn's per-row target, accepted and ignored; classes come by keyword.
    assert np.array_equal(model.fit_predict(blocks, np.arange(60)), model.labels_)
    supervised = tarvok.GeneShaving(supervision=0.5, **FAST)
    assert np.array_equal(supervised.fit(blocks, classes=[0] * 4 + [1] * 4).labels_,
                          tarvok.shave(blocks, [0] * 4 + [1] * 4, supervision=0.5, **FAST).labels)


def test_check_estimator_passes_every_check():
    estimator_checks = pytest.importorskip("sklearn.utils.estimator_checks")
    exceptions = pytest.importorskip("sklearn.exceptions")
    import warnings

    model = tarvok.GeneShaving(n_permutations=4, n_jobs=1)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        estimator_checks.check_estimator(model)
    # The one check the tags declare not to apply, and no other: its three
    # blobs lie in two features, and with two samples the gap is nil at every
    # size, so shaving has nothing to choose by.
    declared = {str(w.message).split()[1] for w in caught if issubclass(w.category, exceptions.SkipTestWarning)}
    assert declared == set(model._get_tags()["_xfail_checks"]) == {"check_clustering"}
    two_samples = np.random.default_rng(3).normal(size=(50, 2))
    assert np.abs(tarvok.shave(two_samples, n_clusters=1, n_permutations=4).clusters[0].gap).max() < 1e-12


def test_transform_scores_rows_on_the_components(golub):
    model = tarvok.GeneShaving(n_clusters=2, n_permutations=2, n_jobs=1).fit(golub)
    scores = model.transform(golub)
    assert scores.shape == (len(golub), 2) and model.fit_transform(golub).tolist() == scores.tolist()
    # The first cluster's genes score exactly as the run scored them.
    first = model.clusters_[0]
    assert scores[first.gene_indices, 0].tolist() == np.asarray(first.scores).tolist()
    assert isinstance(model.components_, np.ndarray) and list(model.feature_names_in_) == list(golub.columns)
    holes = golub.copy()
    holes.iloc[5, 3] = np.nan
    # Under "error" a gene with a NaN is refused, as fit refuses it.
    with pytest.raises(ValueError, match=r"gene 6, sample 4 is missing \(NaN\)"):
        model.transform(holes)
    with pytest.raises(ValueError, match="fitted with 38"):
        model.transform(golub.iloc[:, :-1])
    with pytest.raises(ValueError, match="feature names should match"):
        model.transform(golub[golub.columns[::-1]])
    dropping = tarvok.GeneShaving(n_clusters=1, n_permutations=2, missing="drop").fit(golub)
    assert np.isnan(dropping.transform(holes)[5]).all() and np.isfinite(dropping.transform(holes)[6]).all()


def test_the_planted_cluster_is_found(blocks):
    result = tarvok.shave(blocks, **FAST)
    first = result.clusters[0]
    assert set(first.gene_indices.tolist()) <= set(range(20)) and first.size >= 10
    assert first.sizes[first.chosen_step] == first.size == len(first.scores)
    assert result.components.shape == (result.n_clusters_found, 8)
    assert result.stop_reason in ("completed", "no_clusters_left", "variance_exhausted")
    assert result.seed == 1


def test_random_state_seeds_and_generators(blocks):
    gap = lambda **params: tarvok.shave(blocks, **{**FAST, **params}).clusters[0].gap.tolist()  # noqa: E731
    assert gap(random_state=1) == gap() and gap(random_state=2) != gap()
    streamed = [gap(random_state=None) for _ in range(2)]
    assert streamed[0] != streamed[1]
    # A NumPy generator gives a seed, advancing as it is drawn from.
    for make in (np.random.default_rng, np.random.RandomState):
        generator = make(5)
        first = tarvok.shave(blocks, random_state=generator, **FAST)
        again = tarvok.shave(blocks, random_state=make(5), **FAST)
        assert first.seed == again.seed and first.clusters[0].gap.tolist() == gap(random_state=first.seed)
        assert tarvok.shave(blocks, random_state=generator, **FAST).seed != first.seed
    none = tarvok.shave(np.ones((10, 4)), **FAST)  # no variance at all
    assert none.n_clusters_found == 0 and none.components.shape == (0, 4) and (none.labels == -1).all()


@pytest.mark.parametrize("supervision, solver", [(0.0, "exact"), (0.5, "exact"), (0.0, "fast")])
def test_thread_count_never_changes_a_bit(golub, golub_classes, supervision, solver):
    params = dict(n_clusters=2, n_permutations=4, supervision=supervision, solver=solver)
    one = tarvok.shave(golub, golub_classes, n_jobs=1, **params)
    two = tarvok.shave(golub, golub_classes, n_jobs=2, **params)
    assert_same_result(one, two)


def test_the_fast_solver_finds_the_exact_clusters(golub, blocks):
    params = dict(n_clusters=3, n_permutations=4, n_jobs=2)
    exact = tarvok.shave(golub, **params)
    fast = tarvok.GeneShaving(solver="fast", **params).fit(golub).result_
    assert fast.n_clusters_found == exact.n_clusters_found == 3 and fast.stop_reason == exact.stop_reason
    for x, y in zip(exact.clusters, fast.clusters):
        assert x.size == y.size and x.chosen_step == y.chosen_step
        assert sorted(x.genes) == sorted(y.genes)
        assert y.eigenvalue == pytest.approx(x.eigenvalue, rel=1e-10, abs=0)
    for bad in ("Fast", "lanczos", None):
        with pytest.raises(ValueError, match="solver must be one of 'exact', 'fast'"):
            tarvok.shave(blocks, solver=bad, **FAST)
    with pytest.raises(ValueError, match="solver must be one of 'exact', 'fast'; got 'svd'"):
        tarvok.GeneShaving(solver="svd").fit(blocks)
    from tarvok import _core

    with pytest.raises(ValueError, match="solver must be one of 'exact', 'fast'; got 'svd'"):
        _core.analyze(np.ascontiguousarray(blocks), 2, 10, 2, 0, 0, [], 1, solver="svd")


def test_progress_counts_every_copy(blocks, capsys):
    stream = io.StringIO()
    display = Progress(2, 3, stream=stream)
    display.bar = None  # the plain-text form
    for event in [("pass", 1, 0), ("copy", 1, 3), ("copy", 2, 3), ("copy", 3, 3), ("cluster", 1, 0)]:
        display(*event)
    display.close()
    assert stream.getvalue().endswith("\rgene shaving: 3/6 permuted copies\n")
    tarvok.shave(blocks, progress=True, **FAST)
    assert "4/4" in capsys.readouterr().err


def test_a_failing_progress_callback_stops_the_run(blocks):
    from tarvok import _core

    def fail(event, a, b):
        raise ZeroDivisionError("from the callback")

    with pytest.raises(ZeroDivisionError, match="from the callback"):
        _core.analyze(np.ascontiguousarray(blocks), 2, 10, 2, 0, 0, [], 1, progress=fail)


def test_plots_number_clusters_from_1_and_keep_legends_off_the_data(blocks):
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    from tarvok import plotting

    model = tarvok.GeneShaving(**FAST).fit(blocks)
    classes = ["ALL"] * 4 + ["AML"] * 4
    figure, axes = plt.subplots(2, 2, figsize=(12, 8))
    assert plotting.plot_gap(model, ax=axes[0, 0]) is axes[0, 0]
    assert axes[0, 0].get_title() == "cluster 1: gap statistic"
    assert len(axes[0, 0].lines[0].get_xdata()) == len(model.clusters_[0].sizes)
    assert plotting.plot_r2(model.result_, 2, ax=axes[0, 1]).get_title().startswith("cluster 2:")
    assert len(axes[0, 1].lines) == 3
    heatmap = plotting.plot_heatmap(model, blocks, classes=classes, ax=axes[1, 0])
    assert heatmap.images[0].get_array().shape == (model.clusters_[0].size, 8)
    strip = [a for a in heatmap.child_axes if a.images and a.images[0].get_array().shape == (1, 8)]
    assert len(strip) == 1 and strip[0].images[0].get_array().tolist() == [[0] * 4 + [1] * 4]
    assert [t.get_text() for t in strip[0].get_legend().get_texts()] == ["ALL", "AML"]
    assert any(a.get_ylabel() == "centred expression" for a in heatmap.child_axes)  # the colour key
    plotting.plot_component(model, classes=classes, ax=axes[1, 1])
    dots = axes[1, 1].collections
    assert [len(c.get_offsets()) for c in dots] == [4, 4]
    assert [t.get_text() for t in axes[1, 1].get_legend().get_texts()] == ["ALL", "AML"]
    figure.canvas.draw()
    for ax in (axes[0, 0], axes[0, 1], axes[1, 1]):
        assert not ax.get_legend().get_window_extent().overlaps(ax.get_window_extent())
    assert plotting.plot_component(model) is not None
    for bad in (0, 3, 9):
        with pytest.raises(ValueError, match="cluster must be a cluster number from 1 to 2"):
            plotting.plot_gap(model, cluster=bad)
    plt.close("all")


def test_n_jobs_maps_to_threads(monkeypatch):
    from tarvok import _params

    monkeypatch.setattr(_params, "available_cores", lambda: 8)
    assert [_params.threads_for(n) for n in (None, -1, -2, -20, 1, 3)] == [8, 8, 7, 1, 1, 3]
    check_is_fitted = pytest.importorskip("sklearn.utils.validation").check_is_fitted
    with pytest.raises(Exception, match="not fitted"):
        check_is_fitted(tarvok.GeneShaving())


def test_the_core_is_compiled_in_not_loaded(blocks):
    from tarvok import _core

    tarvok.shave(blocks, **FAST)
    mapped = Path("/proc/self/maps").read_text()
    assert "libTarvok" not in mapped and _core.__file__ in mapped
    assert b"RuzoVavav" not in Path(_core.__file__).read_bytes()


def test_exports_carry_names_and_classes_and_fail_as_exceptions(blocks, tmp_path):
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame(blocks.copy(), index=[f"g{i}" for i in range(60)], columns=[f"s{j}" for j in range(8)])
    frame.iloc[3, 2] = np.nan  # g3 is left out; the others keep their names
    classes = ["ALL"] * 4 + ["AML"] * 4
    model = tarvok.GeneShaving(missing="drop", **FAST).fit(frame, classes=classes)
    gct = Path(model.write_gct(tmp_path / "c.gct")).read_text().splitlines()
    assert gct[2:4] == ["\t".join(["id", "cluster", "score", "sign", *frame.columns]),
                        "\t".join(["class", "na", "na", "na", *classes])]
    clustered = [(str(g), str(i)) for i, c in enumerate(model.clusters_, start=1) for g in c.genes]
    assert [tuple(line.split("\t")[:2]) for line in gct[4:]] == clustered
    kgg = Path(model.write_kgg(tmp_path / "c.kgg")).read_text().splitlines()
    assert kgg[1:] == ["\t".join(pair) for pair in clustered]
    cdt = Path(model.write_cdt(tmp_path / "c.cdt")).read_text().splitlines()
    assert sorted(line.split("\t")[0] for line in cdt[2:]) == sorted(set(frame.index) - {"g3"})

    # A pickled result keeps what its exports are written from.
    restored = pickle.loads(pickle.dumps(model))
    for ours, theirs in zip(model.write_exports(tmp_path / "model"), restored.result_.write_exports(tmp_path / "r")):
        assert Path(ours).read_bytes() == Path(theirs).read_bytes()

    with pytest.raises(OSError, match="cannot write .*missing/c.gmt"):
        model.write_gmt(tmp_path / "missing" / "c.gmt")
    with pytest.raises(ValueError, match="no clusters"):
        tarvok.shave(np.ones((10, 4)), **FAST).write_exports(tmp_path / "none")
    assert not list((tmp_path / "none").iterdir())
    with pytest.raises(ValueError, match="not fitted"):
        tarvok.GeneShaving().write_gmt(tmp_path / "c.gmt")


def test_exports_are_the_same_bytes_under_a_german_locale(blocks, tmp_path):
    import locale

    model = tarvok.GeneShaving(**FAST).fit(blocks * 1000.5, classes=["a"] * 4 + ["b"] * 4)
    c_files = model.write_exports(tmp_path / "c")
    previous = locale.setlocale(locale.LC_ALL)
    try:
        locale.setlocale(locale.LC_ALL, "de_DE.UTF-8")  # decimal comma, dot for thousands
        german = model.write_exports(tmp_path / "de")
        refitted = tarvok.GeneShaving(**FAST).fit(blocks * 1000.5).components_
    finally:
        locale.setlocale(locale.LC_ALL, previous)
    for ours, theirs in zip(c_files, german):
        assert Path(ours).read_bytes() == Path(theirs).read_bytes(), Path(ours).name
    assert refitted.tolist() == model.components_.tolist()
