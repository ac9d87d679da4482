#!/usr/bin/env bash
# The exports read back by independent readers: the Golub data through
# "tarvok run" (SVG figures) and "tarvok export" (PDF figures); GMT by
# Bioconductor's GSEABase, CDT and KGG by Biopython's Bio.Cluster, GCT 1.3
# by a reader of its published format, SVG by an XML parser, PDF by pdfinfo.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
scripts/setup.sh
cmake -S "$root" -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release --target tarvok -j "$(nproc)" >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Class names instead of the library's numbers.
names=examples/data/golub.leukemia.classes
build/release/host/tarvok run examples/data/golub.tsv --clusters 3 --permutations 4 --classes "$names" \
  --dump-matrix --figures svg --out "$work/golub" -q >/dev/null
/usr/bin/python3 tests/exports/check_exports.py "$work/golub" examples/data/golub.tsv "$names" run
Rscript tests/exports/check_gmt.R "$work/golub"

build/release/host/tarvok export "$work/golub" --figures pdf --classes "$names" >/dev/null
/usr/bin/python3 tests/exports/check_exports.py "$work/golub" examples/data/golub.tsv "$names" export
Rscript tests/exports/check_gmt.R "$work/golub"
pdfs=0
for pdf in "$work"/golub/figures/*.pdf; do
  pdfinfo "$pdf" | grep -q '^Pages: *1$'
  pdfs=$((pdfs + 1))
done
echo "$pdfs PDF figures pass pdfinfo"
