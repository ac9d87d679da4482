"""The package's numbers are the engine's numbers, bit for bit.

Two references, both on the bundled Golub data, unsupervised and supervised
at 50 percent with the Golub classes:

* the C face: RuzoVavav of the shared library (loaded with ctypes in a
  child process, since it ends its process on failure) writes its result
  files; every number in them must be the package's number printed the same
  way ("%f"), every size, step and gene the same;
* the core as CMake builds it for that library: a small program linked
  against it prints the record in hex floats, compared with ==, and writes
  the export files through the export library, compared byte for byte;
* the tarvok program: its gene sets and groups (GMT, KGG) byte for byte; its
  GCT holds the six-decimal values of its result files, so only to those
  decimals.

The libraries come from TARVOK_SHARED_LIBRARY, TARVOK_CORE_ARCHIVE and
TARVOK_EXPORT_ARCHIVES, the program from TARVOK_CLI (all set by
scripts/test-stages/python.sh); a test whose library is not given is skipped.
"""
import os
import shutil
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import tarvok

from conftest import GOLUB_CLASSES, REPO

CASES = {
    "unsupervised": dict(n_clusters=3, n_permutations=6, supervision=0.0),
    "supervised50": dict(n_clusters=3, n_permutations=6, supervision=0.5),
}

C_FACE_RUN = r"""
import ctypes, sys
import numpy as np
library, matrix, classes = ctypes.CDLL(sys.argv[1]), np.load(sys.argv[2]), sys.argv[3].encode()
ints = [ctypes.c_int(int(v)) for v in sys.argv[4:9]]  # clusters, shave, permutations, tolerance, supervision
genes, samples = (ctypes.c_int(n) for n in matrix.shape)
monitor, generate_labels, dump, done = ctypes.c_int(0), ctypes.c_int(1), ctypes.c_int(0), ctypes.c_int(-1)
class_file = ctypes.c_char_p(classes)
ref = ctypes.byref
library.RuzoVavav(ref(ints[0]), ref(ints[1]), ref(ints[2]), ref(ints[3]),
                  matrix.ctypes.data_as(ctypes.POINTER(ctypes.c_double)), ref(genes), ref(samples), ref(monitor),
                  ref(generate_labels), ref(dump), ref(ints[4]), ref(class_file), ref(done))
print(done.value)
"""


def library(variable):
    path = os.environ.get(variable)
    if not path:
        pytest.skip(f"{variable} not set (scripts/test-stages/python.sh sets it)")
    assert Path(path).is_file(), f"{variable}={path} does not exist"
    return path


def core_arguments(params):
    """clusters, shave, permutations, tolerance and supervision as the core counts them."""
    return [params["n_clusters"], 10, params["n_permutations"], 0, round(params["supervision"] * 100)]


@pytest.fixture(scope="module")
def fitted(golub, golub_classes):
    return {name: tarvok.shave(golub.to_numpy(), golub_classes, n_jobs=2, **params)
            for name, params in CASES.items()}


def lines(path):
    return path.read_text().splitlines()


@pytest.mark.parametrize("case", CASES)
def test_result_files_of_the_c_face(case, golub, fitted, tmp_path):
    shared = library("TARVOK_SHARED_LIBRARY")
    matrix = np.ascontiguousarray(golub.to_numpy())
    np.save(tmp_path / "data.npy", matrix)
    out = tmp_path / "out"
    out.mkdir()
    arguments = [str(v) for v in core_arguments(CASES[case])]
    run = subprocess.run([sys.executable, "-c", C_FACE_RUN, shared, str(tmp_path / "data.npy"), str(GOLUB_CLASSES),
                          *arguments], env={**os.environ, "TVOUTPUT": str(out), "TARVOK_THREADS": "1"},
                         capture_output=True, text=True, timeout=1800)
    assert run.returncode == 0, run.stdout + run.stderr
    result = fitted[case]
    assert int(run.stdout.split()[-1]) == result.n_clusters_found
    assert lines(out / "clusterlengths.txt") == [f"{c.chosen_step + 1}\t {c.size}" for c in result.clusters]
    for i, c in enumerate(result.clusters, start=1):
        assert lines(out / f"clabels{i:05d}.txt") == [f"GENE{g + 1:05d}" for g in c.gene_indices]
        assert lines(out / f"eigen{i:05d}.txt") == [f"{c.eigenvalue:f}"]
        # The pc files keep the decomposition's sign; the package presents
        # each cluster oriented (most genes scoring positive).
        assert lines(out / f"pc{i:05d}.txt") in ([f"{v:f}" for v in c.component],
                                                 [f"{0.0 - v:f}" for v in c.component])
        assert (c.scores > 0).sum() >= (c.scores < 0).sum()
        assert lines(out / f"gap{i:05d}.txt") == [f"{n}\t{g:f}" for n, g in zip(c.sizes, c.gap)]
        assert lines(out / f"variance{i:05d}.txt") == [
            "\t".join([str(n)] + [f"{v:f}" for v in row])
            for n, *row in zip(c.sizes, c.r2, c.r2_permuted, c.between, c.total, c.within)]


@pytest.fixture(scope="module")
def core_record_program(tmp_path_factory):
    archive = library("TARVOK_CORE_ARCHIVE")
    exports = os.environ.get("TARVOK_EXPORT_ARCHIVES", "").split()  # link order
    if not exports:
        pytest.skip("TARVOK_EXPORT_ARCHIVES not set (scripts/test-stages/python.sh sets it)")
    compiler = shutil.which("g++")
    assert compiler, "g++ is needed to build the core record printer"
    program = tmp_path_factory.mktemp("core") / "core_record"
    subprocess.run([compiler, "-std=c++17", "-O2", "-ffp-contract=off", f"-I{REPO}",
                    str(Path(__file__).with_name("core_record.cpp")), *exports, archive, "-pthread", "-o",
                    str(program)],
                   check=True)
    return program


def parse_record(text):
    clusters, stop = [], None
    for line in text.splitlines():
        name, *fields = line.split()
        if name == "cluster":
            clusters.append(dict(chosen_step=int(fields[0]), size=int(fields[1]), eigenvalue=float.fromhex(fields[2])))
        elif name == "stop":
            stop = int(fields[0])
        elif name in ("genes", "sizes"):
            clusters[-1][name] = [int(v) for v in fields]
        else:
            clusters[-1][name] = [float.fromhex(v) for v in fields]
    return clusters, stop


@pytest.mark.parametrize("case", CASES)
def test_full_precision_record_of_the_cmake_built_core(case, golub, golub_classes, fitted, core_record_program,
                                                       tmp_path):
    matrix = np.ascontiguousarray(golub.to_numpy())
    matrix.tofile(tmp_path / "data.bin")
    params = CASES[case]
    classes = golub_classes if params["supervision"] > 0 else []
    run = subprocess.run([str(core_record_program), str(tmp_path / "data.bin"), *map(str, matrix.shape),
                          *map(str, core_arguments(params)), *map(str, classes)],
                         env={**os.environ, "TARVOK_THREADS": "1"}, capture_output=True, text=True, check=True)
    expected, stop = parse_record(run.stdout)
    result = fitted[case]
    assert stop == ["completed", "no_clusters_left", "variance_exhausted"].index(result.stop_reason)
    assert len(expected) == result.n_clusters_found
    for want, got in zip(expected, result.clusters):
        assert (want["chosen_step"], want["size"], want["eigenvalue"]) == (got.chosen_step, got.size, got.eigenvalue)
        assert want["genes"] == got.gene_indices.tolist()
        assert want["sizes"] == got.sizes.tolist()
        for name in ("scores", "component", "gap", "r2", "r2_permuted", "between", "total", "within"):
            assert want[name] == np.asarray(getattr(got, name)).tolist(), name


# The program names the CDT after its table, so the tables are named "clusters".
EXPORTS = ["clusters.gmt", "clusters.kgg", "clusters.cdt", "clusters.gct"]


def gct_cells(path):
    """The GCT's rows split into cells, numbers as floats where the header and labels are text."""
    rows = [line.split("\t") for line in lines(path)]
    head, body = rows[:4], rows[4:]
    return head, [row[:2] + [row[3]] for row in body], [[float(v) for v in row[4:]] for row in body]


@pytest.mark.parametrize("case", CASES)
def test_exports_equal_the_export_library_and_the_program(case, golub, golub_classes, fitted, core_record_program,
                                                          tmp_path):
    """The package's export files, with the classes given as y, against both references."""
    result = fitted[case]
    written = result.write_exports(tmp_path / "package")
    assert [Path(p).name for p in written] == EXPORTS
    matrix = np.ascontiguousarray(golub.to_numpy())
    matrix.tofile(tmp_path / "data.bin")
    (tmp_path / "library").mkdir()
    subprocess.run([str(core_record_program), str(tmp_path / "data.bin"), *map(str, matrix.shape),
                    *map(str, core_arguments(CASES[case])), *map(str, golub_classes)],
                   env={**os.environ, "TARVOK_THREADS": "1", "TARVOK_EXPORTS_DIR": str(tmp_path / "library")},
                   capture_output=True, check=True)
    for name in EXPORTS:
        assert (tmp_path / "package" / name).read_bytes() == (tmp_path / "library" / name).read_bytes(), name

    # The program reads a table without labels (so that it makes up the
    # package's GENE00001, sample00001, ...), its numbers as the same doubles.
    cli = library("TARVOK_CLI")
    table = tmp_path / "clusters.tsv"
    table.write_text("".join("\t".join(repr(v) for v in row) + "\n" for row in matrix.tolist()))
    params = CASES[case]
    subprocess.run([cli, "run", str(table), "--header", "no", "--row-names", "no", "--quiet", "--threads", "2",
                    "--clusters", str(params["n_clusters"]), "--permutations", str(params["n_permutations"]),
                    "--supervise", str(round(params["supervision"] * 100)), "--classes", str(GOLUB_CLASSES),
                    "--out", str(tmp_path / "program")], capture_output=True, check=True, timeout=1800)
    # The program presents the core's record as the package does: the same bytes.
    for name in EXPORTS:
        assert (tmp_path / "package" / name).read_bytes() == (tmp_path / "program" / name).read_bytes(), name
    head, _, _ = gct_cells(tmp_path / "package" / "clusters.gct")
    assert head[3][:5] == ["class", "na", "na", "na", str(golub_classes[0])]


def test_the_program_and_the_package_share_seeds_and_version(golub, tmp_path):
    """tarvok run --seed N and random_state=N start the same generator state; one version number."""
    cli = library("TARVOK_CLI")
    version = subprocess.run([cli, "--version"], capture_output=True, text=True)
    assert version.returncode == 0 and tarvok.__version__ in version.stdout.split(), version.stdout + version.stderr
    matrix = np.ascontiguousarray(golub.to_numpy()[:400])
    table = tmp_path / "clusters.tsv"
    table.write_text("".join("\t".join(repr(v) for v in row) + "\n" for row in matrix.tolist()))
    for seed in (7, 4294967295):
        out = tmp_path / f"seed{seed}"
        run = subprocess.run([cli, "run", str(table), "--header", "no", "--row-names", "no", "--quiet",
                              "--clusters", "2", "--permutations", "4", "--seed", str(seed), "--out", str(out)],
                             capture_output=True, text=True, timeout=1800)
        assert run.returncode == 0, run.stderr
        result = tarvok.shave(matrix, n_clusters=2, n_permutations=4, random_state=seed, n_jobs=2)
        result.write_exports(tmp_path / f"package{seed}")
        for name in EXPORTS:
            assert (tmp_path / f"package{seed}" / name).read_bytes() == (out / name).read_bytes(), (seed, name)


def test_raw_counts_are_logged_alike_by_the_program_and_the_package(golub, tmp_path):
    """The program's default (--log2 auto) and log2="auto" take the same decision and the same logs."""
    cli = library("TARVOK_CLI")
    counts = np.ascontiguousarray(2.0 ** (golub.to_numpy()[:300] + 10))
    table = tmp_path / "clusters.tsv"  # the program's CDT is then the package's clusters.cdt
    table.write_text("".join("\t".join(repr(v) for v in row) + "\n" for row in counts.tolist()))
    run = subprocess.run([cli, "run", str(table), "--header", "no", "--row-names", "no", "--quiet", "--clusters", "2",
                          "--permutations", "3", "--out", str(tmp_path / "program")],
                         capture_output=True, text=True, timeout=1800)
    assert run.returncode == 0, run.stderr
    assert "log2: yes, because the 99th percentile is" in run.stderr
    result = tarvok.shave(counts, n_clusters=2, n_permutations=3, log2="auto")
    assert result.log2["applied"] and result.log2["reason"] in run.stderr
    result.write_exports(tmp_path / "package")
    for name in EXPORTS:
        assert (tmp_path / "package" / name).read_bytes() == (tmp_path / "program" / name).read_bytes(), name


def test_symbols_beside_the_keys_match_the_program(golub, golub_classes, tmp_path):
    """A table of ID, symbol and values: the package given the same symbols writes the program's bytes,
    every file including the symbol gene sets; keys stay unique, repeated and placeholder symbols stay put."""
    cli = library("TARVOK_CLI")
    matrix = np.ascontiguousarray(golub.to_numpy()[:300])
    keys = [f"probe{g}" for g in range(len(matrix))]
    symbols = ["--Control" if g % 9 == 0 else "" if g % 11 == 0 else f"SYM{g % 50}" for g in range(len(matrix))]
    samples = [f"S{s}" for s in range(matrix.shape[1])]
    table = tmp_path / "clusters.tsv"  # the program names its CDT after the table
    table.write_text("ID\tSymbol\t" + "\t".join(samples) + "\n" + "".join(
        f"{key}\t{symbol}\t" + "\t".join(repr(v) for v in row) + "\n"
        for key, symbol, row in zip(keys, symbols, matrix.tolist())))
    run = subprocess.run([cli, "run", str(table), "--quiet", "--clusters", "2", "--permutations", "4",
                          "--classes", str(GOLUB_CLASSES), "--out", str(tmp_path / "program")],
                         capture_output=True, text=True, timeout=1800)
    assert run.returncode == 0, run.stderr
    import pandas as pd

    frame = pd.DataFrame(matrix, index=keys, columns=samples)
    result = tarvok.shave(frame, golub_classes, n_clusters=2, n_permutations=4, gene_symbols=symbols, n_jobs=2)
    written = result.write_exports(tmp_path / "package")
    assert [Path(p).name for p in written] == EXPORTS + ["clusters.symbols.gmt"]
    for name in EXPORTS + ["clusters.symbols.gmt"]:
        assert (tmp_path / "package" / name).read_bytes() == (tmp_path / "program" / name).read_bytes(), name
    for cluster in result.clusters:
        assert cluster.symbols == [symbols[g] for g in cluster.gene_indices]
        assert (np.asarray(cluster.scores) > 0).sum() >= (np.asarray(cluster.scores) < 0).sum()
    gct = lines(tmp_path / "package" / "clusters.gct")
    assert gct[2].split("\t")[:2] == ["id", "Description"]
    gmt = (tmp_path / "package" / "clusters.symbols.gmt").read_text()
    assert "--Control" not in gmt and "\t\t" not in gmt
