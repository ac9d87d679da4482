"""Inputs: orientation, names, conversions, missing values and every kind of bad input."""
import numpy as np
import pytest
from numpy.testing import assert_array_equal

import tarvok
from tarvok._inputs import as_matrix

pd = pytest.importorskip("pandas")
FAST = dict(n_clusters=2, n_permutations=2, n_jobs=1)


def frame(data):
    return pd.DataFrame(data, index=[f"gene{i}" for i in range(data.shape[0])],
                        columns=[f"s{j}" for j in range(data.shape[1])])


def test_c_contiguous_float64_is_used_as_is_and_anything_else_converted_once(blocks):
    assert as_matrix(blocks).values is blocks
    fortran = np.asfortranarray(blocks)
    converted = as_matrix(fortran).values
    assert converted.flags.c_contiguous and not np.shares_memory(converted, fortran)
    np.testing.assert_array_equal(as_matrix(blocks.astype(np.float32)).values, blocks.astype(np.float32))
    assert as_matrix(blocks.tolist()).values.dtype == np.float64


def test_pandas_names_carry_through_every_result(blocks):
    df = frame(blocks)
    result = tarvok.shave(df, **FAST)
    first = result.clusters[0]
    assert list(first.genes) == [f"gene{i}" for i in first.gene_indices]
    assert list(first.scores.index) == list(first.genes)
    assert list(first.component.index) == list(df.columns)
    assert list(result.components.columns) == list(df.columns)
    assert list(result.labels.index) == list(df.index)
    assert (result.labels.loc[list(first.genes)] == 0).all()
    plain = tarvok.shave(blocks, **FAST)
    assert [c.gene_indices.tolist() for c in plain.clusters] == [c.gene_indices.tolist() for c in result.clusters]
    np.testing.assert_array_equal(plain.components, result.components.to_numpy())


def test_anndata_is_samples_by_genes_and_round_trips_through_h5ad(blocks, tmp_path):
    anndata = pytest.importorskip("anndata")
    pytest.importorskip("h5py")
    df = frame(blocks)
    adata = anndata.AnnData(X=np.zeros_like(blocks.T), dtype=np.float64, obs=pd.DataFrame(index=df.columns),
                            var=pd.DataFrame(index=df.index))
    adata.layers["log"] = blocks.T.copy()
    adata.obs["group"] = ["up"] * 4 + ["down"] * 4
    model = tarvok.GeneShaving(**{**FAST, "n_jobs": None}).fit(adata, annotate=True, layer="log")
    expected = tarvok.shave(df, **FAST)
    assert [list(c.genes) for c in model.clusters_] == [list(c.genes) for c in expected.clusters]
    assert_array_equal(adata.var["tarvok_cluster"], np.asarray(expected.labels) + 1)  # numbered from 1
    first = expected.clusters[0]
    assert adata.var["tarvok_score"][first.genes].tolist() == first.scores.tolist()
    assert set(adata.var["tarvok_sign"]) <= {-1, 0, 1}
    path = tmp_path / "annotated.h5ad"
    adata.write_h5ad(path)
    back = anndata.read_h5ad(path)
    assert_array_equal(back.var["tarvok_cluster"], adata.var["tarvok_cluster"])
    assert_array_equal(back.varm["tarvok_scores"], adata.varm["tarvok_scores"])
    assert back.obsm["tarvok_components"].tolist() == np.asarray(expected.components).T.tolist()
    uns = back.uns["tarvok"]
    assert uns["stop_reason"] == expected.stop_reason and uns["version"] == tarvok.__version__
    assert uns["params"]["random_state"] == 1 and "n_jobs" not in uns["params"]
    assert uns["sizes"].tolist() == [c.size for c in expected.clusters]

    sparse = pytest.importorskip("scipy.sparse")
    adata_sparse = anndata.AnnData(X=sparse.csr_matrix(blocks.T), dtype=np.float64)
    assert np.array_equal(tarvok.shave(adata_sparse, **FAST).components, np.asarray(expected.components))
    supervised = tarvok.shave(adata, "group", supervision=0.5, layer="log", **FAST)  # a column of adata.obs
    assert supervised.n_clusters_found >= 1
    with pytest.raises(ValueError, match="layer='raw' is not a layer.*'log'"):
        tarvok.shave(adata, layer="raw", **FAST)
    with pytest.raises(TypeError, match="AnnData"):
        tarvok.GeneShaving(**FAST).fit(df, annotate=True)


def test_classes_series_is_matched_by_sample_name(blocks):
    df = frame(blocks)
    by_position = ["a"] * 4 + ["b"] * 4
    expected = tarvok.shave(df, by_position, supervision=0.5, **FAST)
    shuffled = pd.Series(by_position, index=df.columns)[::-1]
    named = tarvok.shave(df, shuffled, supervision=0.5, **FAST)
    assert_array_equal(named.components, expected.components)
    # A plain 0, 1, ... index is taken in order; a name index lacking samples is an error.
    assert_array_equal(tarvok.shave(df, pd.Series(by_position), supervision=0.5, **FAST).components,
                       expected.components)
    with pytest.raises(ValueError, match="lacks 's7'"):
        tarvok.shave(df, shuffled.drop("s7"), supervision=0.5, **FAST)


def test_duplicate_names_warn(blocks):
    df = frame(blocks)
    df.index = ["g0", "g0"] + list(df.index[2:])
    with pytest.warns(UserWarning, match="duplicate gene names \\(g0\\)"):
        tarvok.shave(df, **FAST)
    df.columns = ["s"] * 8
    with pytest.warns(UserWarning, match="duplicate sample names \\(s\\)"):
        tarvok.shave(df, **FAST)


def test_missing_values_follow_the_core_policy(blocks):
    data = blocks.copy()
    data[3, 5] = np.nan
    with pytest.raises(ValueError, match=r"value of gene 4, sample 6 is missing \(gene 4 \('gene3'\), sample 6 "
                                         r"\('s5'\): NaN\).*missing='drop'"):
        tarvok.shave(frame(data), **FAST)
    data[7, 1] = np.nan
    data[9, :] = np.nan
    dropped = as_matrix(data, "drop")
    assert dropped.rows.tolist() == [i for i in range(60) if i not in (3, 7, 9)]
    result = tarvok.shave(data, missing="drop", **FAST)
    assert all(result.labels[i] == -1 for i in (3, 7, 9)) and len(result.labels) == 60
    filled = as_matrix(data, "row-mean")
    assert filled.values[3, 5] == sum(v for j, v in enumerate(blocks[3].tolist()) if j != 5) / 7
    assert np.isfinite(filled.values).all() and np.isnan(data[3, 5])  # the caller's data is left alone
    assert 9 not in filled.rows
    # A sample missing in every gene is left out first; its component entries are NaN.
    data[:, 2] = np.nan
    gone = tarvok.shave(data, missing="row-mean", **FAST)
    assert np.isnan(gone.components[:, 2]).all() and np.isfinite(np.delete(gone.components, 2, axis=1)).all()
    # Infinite values are refused under every policy; missing words in text cells are NaN.
    data[0, 0] = -np.inf
    for missing in ("error", "drop", "row-mean"):
        with pytest.raises(ValueError, match=r"value of gene 1, sample 1 is not a finite number .*-inf"):
            tarvok.shave(data, missing=missing, **FAST)
    text = blocks.astype(object)
    text[4, 4], text[5, 0] = " NA ", "null"
    assert as_matrix(text, "drop").rows.tolist() == [i for i in range(60) if i not in (4, 5)]


def test_log2_follows_the_core_rule_before_the_missing_policy(blocks):
    counts = 2.0 ** (blocks + 10)
    assert tarvok.shave(counts, **FAST).log2 == {"choice": "no", "applied": False, "reason": "asked for",
                                                 "non_positive": 0}  # the default takes X as given
    logged = as_matrix(counts, log2="auto")
    assert logged.log2["applied"] and "(99th percentile above 100)" in logged.log2["reason"]
    np.testing.assert_allclose(logged.values, blocks + 10, rtol=0, atol=1e-12)
    assert not as_matrix(blocks, log2="auto").log2["applied"]
    zeroed = counts.copy()
    zeroed[2, 1] = 0
    with pytest.raises(ValueError, match=r"value of gene 3, sample 2 is missing"):
        tarvok.shave(zeroed, log2=True, **FAST)
    dropped = as_matrix(zeroed, "drop", log2="yes")
    assert 2 not in dropped.rows.tolist() and dropped.log2["non_positive"] == 1
    # transform takes the log the fit took.
    model = tarvok.GeneShaving(log2="auto", **FAST).fit(counts)
    on_logs = tarvok.GeneShaving(**FAST).fit(logged.values)
    assert_array_equal(model.transform(counts), on_logs.transform(logged.values))
    for bad in ("yes", 1, None):
        with pytest.raises(ValueError, match="log2 must be 'auto', True or False"):
            tarvok.shave(blocks, log2=bad, **FAST)


@pytest.mark.parametrize("X, error, message", [
    (np.zeros(5), ValueError, "2-D, genes x samples"),
    (np.zeros((2, 2, 2)), ValueError, "2-D"),
    (np.zeros((1, 5)), ValueError, r"1 gene \(rows, scikit-learn's samples\): 1 sample\(s\) \(shape=\(1, 5\)\)"),
    (np.zeros((5, 1)), ValueError, r"1 sample \(columns.*1 feature\(s\) \(shape=\(5, 1\)\).*transpose X"),
    (np.zeros((0, 3)), ValueError, "0 genes"),
    (np.array([["a", "b"], ["c", "d"]], dtype=object), TypeError, "numbers"),
    (np.array([[1 + 1j, 2], [3, 4]]), ValueError, "Complex data not supported"),
    ("not a matrix", TypeError, "numbers"),
    (np.full((3, 3), 1e300), ValueError, "gene 1, sample 1 is 1e\\+300; allowed: magnitudes up to"),  # the core's
])
def test_bad_matrices(X, error, message):
    with pytest.raises(error, match=message):
        tarvok.shave(X, **FAST)


def test_non_numeric_dataframe_columns_are_named(blocks):
    df = frame(blocks)
    df.insert(0, "symbol", "x")
    with pytest.raises(TypeError, match="not numbers \\(symbol\\).*index"):
        tarvok.shave(df, **FAST)


@pytest.mark.parametrize("params, error, message", [
    (dict(shave=0.105), ValueError, r"^shave must be a fraction from 0.01 to 0.97 \(in steps of 0.01\); got 0.105$"),
    (dict(shave=0.98), ValueError, "shave"),
    (dict(shave=0.0), ValueError, "shave"),
    (dict(shave="10%"), TypeError, "shave"),
    (dict(tolerance=1.5), ValueError, "tolerance must be a fraction from 0 to 1"),
    (dict(supervision=-0.1), ValueError, "supervision"),
    (dict(n_clusters=0), ValueError, "^n_clusters must be from 1 to 100000; got 0$"),
    (dict(n_clusters=2**31), ValueError, "^n_clusters must be from 1 to 100000; got 2147483648$"),
    (dict(n_clusters=2**70), ValueError, f"got {2**70}$"),
    (dict(n_clusters=2.5), TypeError, "n_clusters must be a whole number from 1 to 100000"),
    (dict(n_permutations=0), ValueError, "n_permutations must be from 1 to 1000000"),
    (dict(n_permutations=True), TypeError, "n_permutations"),
    (dict(n_jobs=0), ValueError, "n_jobs"),
    (dict(random_state=2**32), ValueError, "random_state must be from 0 to 4294967295"),
    (dict(random_state="7"), TypeError, "random_state must be None, a whole number .*Generator"),
    (dict(n_jobs=2000), ValueError, "n_jobs must be from 1 to 1024"),
    (dict(missing="zero"), ValueError, "missing must be one of 'error', 'drop', 'row-mean'"),
])
def test_bad_parameters(blocks, params, error, message):
    with pytest.raises(error, match=message):
        tarvok.shave(blocks, **{**FAST, **params})


@pytest.mark.parametrize("y, params, error, message", [
    (None, dict(supervision=0.5), ValueError, "supervision > 0 needs classes"),
    (["a"] * 8, dict(supervision=0.5), ValueError, "single class"),
    (["a", "b"] * 3, {}, ValueError, "classes has 6 entries but X has 8 samples"),
    (np.zeros((8, 1)), {}, ValueError, "1-D"),
    ([["a"], ["b"]] * 4, dict(supervision=0.5), TypeError, "not hashable"),
    ([None] + ["a"] * 7, dict(supervision=0.5), ValueError, "no class for sample 1"),
])
def test_bad_classes(blocks, y, params, error, message):
    with pytest.raises(error, match=message):
        tarvok.shave(blocks, y, **{**FAST, **params})


def test_classes_of_any_hashable_values_give_the_same_result(blocks):
    numbers = tarvok.shave(blocks, [0, 0, 0, 0, 1, 1, 1, 1], supervision=0.5, **FAST)
    words = tarvok.shave(blocks, ["up"] * 4 + [("down", 1)] * 4, supervision=0.5, **FAST)
    assert [c.gene_indices.tolist() for c in numbers.clusters] == [c.gene_indices.tolist() for c in words.clusters]
    np.testing.assert_array_equal(numbers.components, words.components)
