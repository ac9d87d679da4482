"""Reads a run's exports back with independent readers and checks them
against the run's own result files.

Usage: /usr/bin/python3 check_exports.py OUTDIR TABLE CLASSNAMES (run|export)

  run:    every row holds the table's row centred (sum from 0.0 in
          sample order, divided by the sample count), as the analysis
          centred it: the run presents its own record
  export: the clustered rows hold the cluster files' six decimals, the
          others origmatrix.txt's values (the run used --dump-matrix)

Either way the scores are the analysis's own, which summary.json keeps.

CDT by Bio.Cluster (and its KGG writer, fed our groups, must write our
KGG), GCT 1.3 by the reader below, written from the format's published
description, SVG figures by an XML parser, figure data against the
cluster files and the components summary.json keeps at full precision.
Every value must be the same double as in its source.
"""
import json
import os
import sys
import xml.etree.ElementTree as ET

from Bio import Cluster


def lines(path):
    with open(path) as f:
        return f.read().split("\n")[:-1]


def read_run(out, centred=None):
    """The run's clusters: genes, rows (centred's when given, else the cluster
    files' six decimals) and the analysis's own scores from summary.json."""
    samples = lines(os.path.join(out, "ColLbls.txt"))
    with open(os.path.join(out, "summary.json")) as f:
        summary = json.load(f)
    clusters = []
    for i, line in enumerate(lines(os.path.join(out, "clusterlengths.txt")), 1):
        size = int(line.split("\t")[1])
        genes = lines(os.path.join(out, "clabels%05d.txt" % i))
        values = [float(v) for v in lines(os.path.join(out, "cluster%05d.txt" % i))]
        rows = [[values[s * size + j] for s in range(len(samples))] for j in range(size)]
        if centred is not None:
            assert all(abs(a - b) <= 5e-7 for row, g in zip(rows, genes) for a, b in zip(row, centred[g]))
            rows = [centred[g] for g in genes]
        # The run's own component at full precision (pc%05d.txt holds six
        # decimals and the decomposition's sign; the run presents the
        # cluster oriented, most of its genes scoring positive).
        component = summary["clusters"][i - 1]["component"]
        assert len(component) == len(samples)
        pc = [float(b) for b in lines(os.path.join(out, "pc%05d.txt" % i))]
        assert any(all(abs(sign * a - b) <= 5e-7 for a, b in zip(component, pc)) for sign in (1, -1))
        scores = summary["clusters"][i - 1]["scores"]
        assert len(scores) == size
        assert sum(s > 0 for s in scores) >= sum(s < 0 for s in scores), i
        clusters.append({"genes": genes, "rows": rows, "scores": scores})
    return samples, clusters


def aligned(row, score):
    return [(v if score > 0 else -v) + 0.0 for v in row]


def read_gct(path):
    """GCT 1.3: '#1.3'; 'rows cols rowMeta colMeta'; a header of id, the row
    metadata names and the sample ids; colMeta lines of a name, 'na' under
    the row metadata and one value per sample; then the rows."""
    text = lines(path)
    assert text[0] == "#1.3", text[0]
    nrows, ncols, nrowmeta, ncolmeta = (int(x) for x in text[1].split("\t"))
    header = text[2].split("\t")
    assert header[0] == "id" and len(header) == 1 + nrowmeta + ncols, header[:5]
    colmeta = {}
    for line in text[3:3 + ncolmeta]:
        fields = line.split("\t")
        assert fields[1:1 + nrowmeta] == ["na"] * nrowmeta
        colmeta[fields[0]] = fields[1 + nrowmeta:]
    rows = []
    for line in text[3 + ncolmeta:]:
        fields = line.split("\t")
        assert len(fields) == len(header), len(fields)
        rows.append({"id": fields[0], "meta": dict(zip(header[1:1 + nrowmeta], fields[1:1 + nrowmeta])),
                     "values": [float(v) for v in fields[1 + nrowmeta:]]})
    assert len(rows) == nrows, (len(rows), nrows)
    return header[1 + nrowmeta:], header[1:1 + nrowmeta], colmeta, rows


def centred_table(table):
    rows = {}
    text = lines(table)
    for line in text[1:]:
        fields = line.split("\t")
        values = [float(v) for v in fields[1:]]
        total = 0.0
        for v in values:
            total += v
        mean = total / len(values)
        rows[fields[0]] = [v - mean for v in values]
    return rows


def main(out, table, class_file, mode):
    samples, clusters = read_run(out, centred_table(table) if mode == "run" else None)
    classes = lines(class_file)
    all_genes = lines(os.path.join(out, "RowLbls.txt"))
    clustered = [(i, g, row, score) for i, c in enumerate(clusters, 1)
                 for g, row, score in zip(c["genes"], c["rows"], c["scores"])]

    # The CDT, named after the table, through Bio.Cluster.
    cdt = os.path.basename(table).split(".")[0] + ".cdt"
    with open(os.path.join(out, cdt)) as handle:
        record = Cluster.read(handle)
    assert record.uniqid == "UNIQID" and list(record.expid) == samples
    in_cluster = {g for _, g, _, _ in clustered}
    unclustered = [g for g in all_genes if g not in in_cluster]
    assert list(record.geneid) == [g for _, g, _, _ in clustered] + unclustered
    assert list(record.eweight) == [1.0] * len(samples)
    for k, (i, gene, row, score) in enumerate(clustered):
        assert list(record.data[k]) == aligned(row, score), gene
        assert record.genename[k] == "%s (cluster %d %s)" % (gene, i, "+" if score > 0 else "-")
    if mode == "run":
        expected = centred_table(table)
    else:
        matrix = [[float(v) for v in line.split()] for line in lines(os.path.join(out, "origmatrix.txt"))]
        expected = dict(zip(all_genes, matrix))
    for k, gene in enumerate(unclustered, len(clustered)):
        assert list(record.data[k]) == expected[gene], gene
    assert record.mask is None

    # clusters.kgg: Bio.Cluster writes the same file from the same groups.
    ours = lines(os.path.join(out, "clusters.kgg"))
    subset = Cluster.Record()
    subset.data = record.data[:len(clustered)]
    subset.geneid = record.geneid[:len(clustered)]
    subset.genename = record.genename[:len(clustered)]
    subset.expid = record.expid
    subset.uniqid = record.uniqid
    job = os.path.join(out, ".biopython-check")
    groups = [i - 1 for i, _, _, _ in clustered]
    subset.save(job, geneclusters=groups)
    theirs = lines("%s_K_G%d.kgg" % (job, max(groups) + 1))
    for name in os.listdir(out):
        if name.startswith(".biopython-check"):
            os.remove(os.path.join(out, name))
    assert ours[0] == theirs[0] == "UNIQID\tGROUP", (ours[0], theirs[0])
    shifted = ["%s\t%d" % (line.split("\t")[0], int(line.split("\t")[1]) - 1) for line in ours[1:]]
    assert shifted == theirs[1:], (shifted[:3], theirs[1:4])

    # clusters.gct
    gct_samples, meta_names, colmeta, rows = read_gct(os.path.join(out, "clusters.gct"))
    assert gct_samples == samples and meta_names == ["cluster", "score", "sign"]
    assert colmeta == {"class": classes}, colmeta
    assert len(rows) == len(clustered)
    for row, (i, gene, values, score) in zip(rows, clustered):
        assert row["id"] == gene and row["meta"]["cluster"] == str(i)
        assert float(row["meta"]["score"]) == score, (gene, row["meta"]["score"], score)
        assert row["meta"]["sign"] == ("+1" if score > 0 else "-1")
        assert row["values"] == values, gene

    # Figures: every SVG parses; every figure has its data; the heatmap's
    # data are the aligned cluster rows.
    figures = os.path.join(out, "figures")
    names = sorted(os.listdir(figures))
    svgs = [n for n in names if n.endswith(".svg")]
    assert len(svgs) == 4 * len(clusters), names
    for name in svgs:
        root = ET.parse(os.path.join(figures, name)).getroot()
        assert root.tag == "{http://www.w3.org/2000/svg}svg", (name, root.tag)
        assert os.path.exists(os.path.join(figures, name[:-4] + ".tsv")), name
    for i, c in enumerate(clusters, 1):
        heat = lines(os.path.join(figures, "cluster%d_heatmap.tsv" % i))
        assert heat[0].split("\t") == ["gene", "sign"] + samples
        for line, gene, row, score in zip(heat[1:], c["genes"], c["rows"], c["scores"]):
            fields = line.split("\t")
            assert fields[0] == gene and [float(v) for v in fields[2:]] == aligned(row, score), gene
        component = lines(os.path.join(figures, "cluster%d_component.tsv" % i))
        assert [line.split("\t")[1] for line in component[1:]] == classes

    report = open(os.path.join(out, "report.html")).read()
    for name in ("clusters.gmt", "clusters.kgg", cdt, "clusters.gct"):
        assert '<a href="%s" download>' % name in report, name
    print("%s: CDT, KGG, GCT and %d SVG figures read back exactly (%s)" % (out, len(svgs), mode))


if __name__ == "__main__":
    main(*sys.argv[1:5])
