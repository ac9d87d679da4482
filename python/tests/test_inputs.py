"""Inputs: orientation, names, conversions, missing values and every kind of bad input."""
import numpy as np
import pytest

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


def test_anndata_is_samples_by_genes(blocks):
    anndata = pytest.importorskip("anndata")
    df = frame(blocks)
    adata = anndata.AnnData(X=blocks.T.copy(), dtype=np.float64, obs=pd.DataFrame(index=df.columns), var=pd.DataFrame(index=df.index))
    adata.obs["group"] = ["up"] * 4 + ["down"] * 4
    model = tarvok.GeneShaving(**FAST).fit(adata, annotate=True)
    expected = tarvok.shave(df, **FAST)
    assert [list(c.genes) for c in model.clusters_] == [list(c.genes) for c in expected.clusters]
    assert list(adata.var["tarvok_cluster"]) == list(expected.labels)
    assert adata.uns["tarvok"]["n_clusters_found"] == expected.n_clusters_found
    sparse = pytest.importorskip("scipy.sparse")
    adata_sparse = anndata.AnnData(X=sparse.csr_matrix(blocks.T), dtype=np.float64)
    assert np.array_equal(tarvok.shave(adata_sparse, **FAST).components, np.asarray(expected.components))
    supervised = tarvok.shave(adata, "group", supervision=0.5, **FAST)  # y names a column of adata.obs
    assert supervised.n_clusters_found >= 1
    with pytest.raises(TypeError, match="AnnData"):
        tarvok.GeneShaving(**FAST).fit(df, annotate=True)


def test_missing_values_are_named_or_handled(blocks):
    data = blocks.copy()
    data[3, 5] = np.nan
    data[7, 1] = np.inf
    with pytest.raises(ValueError, match=r"NaN at gene 'gene3' \(gene 3\), sample 's5'.*missing='drop'"):
        tarvok.shave(frame(data), **FAST)
    data[2, 0] = -np.inf
    with pytest.raises(ValueError, match="infinite value at gene 2, sample 0"):
        tarvok.shave(data, **FAST)
    dropped = as_matrix(data, "drop")
    assert dropped.rows.tolist() == [i for i in range(60) if i not in (2, 3, 7)]
    result = tarvok.shave(data, missing="drop", **FAST)
    assert all(result.labels[i] == -1 for i in (2, 3, 7)) and len(result.labels) == 60
    filled = as_matrix(data, "row-mean").values
    assert filled[3, 5] == sum(v for j, v in enumerate(blocks[3].tolist()) if j != 5) / 7
    assert np.isfinite(filled).all() and np.isnan(data[3, 5])  # the caller's data is left alone
    data[9, :] = np.nan
    assert 9 not in as_matrix(data, "row-mean").rows


@pytest.mark.parametrize("X, error, message", [
    (np.zeros(5), ValueError, "2-D, genes x samples"),
    (np.zeros((2, 2, 2)), ValueError, "2-D"),
    (np.zeros((1, 5)), ValueError, "1 gene;.*at least 2 genes and 2 samples"),
    (np.zeros((5, 1)), ValueError, "1 sample;.*transpose X"),
    (np.array([["a", "b"], ["c", "d"]], dtype=object), TypeError, "numbers"),
    (np.array([[1 + 1j, 2], [3, 4]]), TypeError, "real numbers"),
    ("not a matrix", TypeError, "real numbers"),
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
    (dict(shave=0.105), ValueError, "shave must be a fraction from 0.01 to 0.97 in whole percents"),
    (dict(shave=0.98), ValueError, "shave"),
    (dict(shave=0.0), ValueError, "shave"),
    (dict(shave="10%"), TypeError, "shave"),
    (dict(tolerance=1.5), ValueError, "tolerance must be a fraction from 0 to 1"),
    (dict(supervision=-0.1), ValueError, "supervision"),
    (dict(n_clusters=-1), ValueError, "n_clusters must be >= 0"),
    (dict(n_clusters=2.5), TypeError, "n_clusters must be a whole number"),
    (dict(n_permutations=0), ValueError, "n_permutations must be >= 1"),
    (dict(n_permutations=True), TypeError, "n_permutations"),
    (dict(n_jobs=0), ValueError, "n_jobs"),
    (dict(random_state=2**32), ValueError, "random_state must be from 0 to 4294967295"),
    (dict(n_jobs=2000), ValueError, "n_jobs must be from 1 to 1024"),
    (dict(missing="zero"), ValueError, "missing must be one of 'error', 'drop', 'row-mean'"),
])
def test_bad_parameters(blocks, params, error, message):
    with pytest.raises(error, match=message):
        tarvok.shave(blocks, **{**FAST, **params})


@pytest.mark.parametrize("y, params, error, message", [
    (None, dict(supervision=0.5), ValueError, "supervision > 0 needs y"),
    (["a"] * 8, dict(supervision=0.5), ValueError, "single class"),
    (["a", "b"] * 3, {}, ValueError, "y has 6 entries but X has 8 samples"),
    (np.zeros((8, 1)), {}, ValueError, "1-D"),
    ([["a"], ["b"]] * 4, dict(supervision=0.5), TypeError, "not hashable"),
    ([None] + ["a"] * 7, dict(supervision=0.5), ValueError, "no class for sample 0"),
])
def test_bad_classes(blocks, y, params, error, message):
    with pytest.raises(error, match=message):
        tarvok.shave(blocks, y, **{**FAST, **params})


def test_classes_of_any_hashable_values_give_the_same_result(blocks):
    numbers = tarvok.shave(blocks, [0, 0, 0, 0, 1, 1, 1, 1], supervision=0.5, **FAST)
    words = tarvok.shave(blocks, ["up"] * 4 + [("down", 1)] * 4, supervision=0.5, **FAST)
    assert [c.gene_indices.tolist() for c in numbers.clusters] == [c.gene_indices.tolist() for c in words.clusters]
    np.testing.assert_array_equal(numbers.components, words.components)
